#include "shell/SelfTest.h"

#include <QMetaProperty>

#include "shell/AppDelegate.h"
#include "shell/StatusPanel.h"
#include "views/Palette.h"

namespace vesperine::SelfTest {

QSet<QString> declaredPropertyNames(const QMetaObject& type) {
    QSet<QString> names;
    for (int i = type.propertyOffset(); i < type.propertyCount(); ++i) {
        const char* name = type.property(i).name();
        if (name != nullptr && name[0] != '\0') {
            names.insert(QString::fromLatin1(name));
        }
    }
    return names;
}

int run(const QSet<QString>& delegateProperties, const StatusPanel& panel, std::FILE* out) {
    int passed = 0;
    int failed = 0;
    const auto check = [&](const char* name, bool outcome) {
        if (outcome) {
            ++passed;
            std::fprintf(out, "  ok   %s\n", name);
        } else {
            ++failed;
            std::fprintf(out, "  FAIL %s\n", name);
        }
    };
    const auto has = [&](const char* name) {
        return delegateProperties.contains(QString::fromLatin1(name));
    };

    check("presentation uses a key panel with no global mouse monitor",
          has("panel") && !has("popover") && !has("globalClickMonitor"));
    check("panel close path has a resign-key reentrancy guard", has("isClosingPanel"));
    check("panel stays key for controls and text until a genuine resign",
          panel.isFloatingPanel() && !panel.becomesKeyOnlyIfNeeded() && !panel.hidesOnDeactivate());

    std::fprintf(out, "selftest: %d passed, %d failed\n", passed, failed);
    std::fflush(out);
    return failed != 0 ? 1 : 0;
}

int runOnShell(std::FILE* out) {
    const AppDelegate delegate{ShellServices{}};
    const QSet<QString> names = declaredPropertyNames(*delegate.metaObject());
    const StatusPanel panel(QRect(0, 0, Palette::panelWidth, 100));
    return run(names, panel, out);
}

}  // namespace vesperine::SelfTest
