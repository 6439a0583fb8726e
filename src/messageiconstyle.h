#pragma once
// The application's style with sharp message-box symbols on every screen.
#include <QProxyStyle>

// Wraps the style the application would use anyway and changes only the symbols of the message
// boxes (warning, information, question): where the desktop's icon theme has none, Qt falls back
// to 32 px bitmaps that turn blocky at 200 % scaling; the program's own drawings come at 32, 64
// and 128 px instead. Where the theme has them, the theme's symbols stay.
class MessageIconStyle : public QProxyStyle {
public:
    // key: the name of the style to wrap (QStyleFactory); empty for the desktop's default.
    explicit MessageIconStyle(const QString& key = QString());

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};

// Installs MessageIconStyle around the application's current style (a -style argument or
// QT_STYLE_OVERRIDE included). Needs the program's resources registered.
void MessageIconStyle_Install();
