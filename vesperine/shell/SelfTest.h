#pragma once

#include <QMetaObject>
#include <QSet>
#include <QString>

#include <cstdio>

namespace vesperine {

class StatusPanel;

// The panel-presentation regression behind --selftest: three checks on the
// delegate's stored-property names and a fresh panel's flags, one line each,
// then the summary. Shows nothing and touches no settings.
namespace SelfTest {

// The properties `type` declares itself (none of its base classes').
QSet<QString> declaredPropertyNames(const QMetaObject& type);

// Runs the three checks against the given names and panel; 0 when all pass,
// else 1.
int run(const QSet<QString>& delegateProperties, const StatusPanel& panel, std::FILE* out);

// The checks on a new AppDelegate and a new 288x100 StatusPanel. Needs a
// QApplication.
int runOnShell(std::FILE* out);

}  // namespace SelfTest
}  // namespace vesperine
