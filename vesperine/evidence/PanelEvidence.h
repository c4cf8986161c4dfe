#pragma once

#include <QString>

class QWidget;

namespace vesperine::PanelEvidence {

// Writes the reference pictures of the panel into `directory` (made with its
// parents when missing): the front page running and paused, the settings page
// with the coordinates row open, and the tray icon on a dark and a light tile.
// The pages show fixed sample data held in memory; the user's settings are
// never written. Prints "wrote panel evidence -> <directory>" when every file
// was written; otherwise returns the first failure's one line (and prints
// nothing). Makes an application on the offscreen platform when there is none.
// Main thread only.
QString render(const QString& directory);

// Lays `page` out 288 logical pixels wide on the panel's background and writes
// it at two device pixels per logical pixel as a PNG to `path`. Returns why it
// failed, or an empty text. `page` is handed back without a parent.
QString save(QWidget& page, const QString& path);

}  // namespace vesperine::PanelEvidence
