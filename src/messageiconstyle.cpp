#include "messageiconstyle.h"

#include <QApplication>
#include <QFile>

namespace {
struct MessageSymbol {
    QStyle::StandardPixmap pixmap;
    const char* themeName; // the freedesktop name the desktop's icon theme would use
    const char* resource; // the 32 px drawing; "@2x" and "@4x" beside it hold 64 and 128 px
};

const MessageSymbol kSymbols[] = {
    {QStyle::SP_MessageBoxWarning, "dialog-warning", ":/icons/Icons/msg-warning.png"},
    {QStyle::SP_MessageBoxInformation, "dialog-information", ":/icons/Icons/msg-information.png"},
    {QStyle::SP_MessageBoxQuestion, "dialog-question", ":/icons/Icons/msg-question.png"},
};
} // namespace

MessageIconStyle::MessageIconStyle(const QString& key) : QProxyStyle(key) {}

QIcon MessageIconStyle::standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const
{
    for (const MessageSymbol& symbol : kSymbols) {
        if (symbol.pixmap != icon || QIcon::hasThemeIcon(QLatin1String(symbol.themeName)))
            continue;
        // All three sizes: the box asks for about 48 px, so at 200 % the 128 px drawing is scaled
        // down rather than the 64 px one scaled up.
        const QString path = QLatin1String(symbol.resource);
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        QIcon own;
        for (const char* size : {"", "@2x", "@4x"}) {
            const QString file = QString(path).insert(dot, QLatin1String(size));
            if (QFile::exists(file))
                own.addFile(file);
        }
        if (!own.isNull())
            return own;
    }
    return QProxyStyle::standardIcon(icon, option, widget);
}

void MessageIconStyle_Install()
{
    const QString current = QApplication::style() ? QApplication::style()->objectName() : QString();
    QApplication::setStyle(new MessageIconStyle(current));
}
