// Tells whether a file name is one that Windows clients cannot use.
#include "WindowsNames.h"

#include <QStringConverter>
#include <QStringList>

namespace fileop {

namespace {

// The device names Windows keeps in every folder, with or without an extension.
bool isDeviceName(const QString& stem)
{
    static const QStringList fixed{QStringLiteral("CON"), QStringLiteral("PRN"),    QStringLiteral("AUX"),
                                   QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    const QString s = stem.toUpper();
    if (fixed.contains(s))
        return true;
    if (s.size() != 4 || !(s.startsWith(QLatin1String("COM")) || s.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar n = s[3];
    // COM0..COM9, and the superscript digits Windows also treats as devices.
    return (n >= u'0' && n <= u'9') || n == QChar(0x00B9) || n == QChar(0x00B2) || n == QChar(0x00B3);
}

} // namespace

QString windowsNameProblem(const QByteArray& name)
{
    if (name.isEmpty() || name == "." || name == "..")
        return {};
    auto decode = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(name);
    if (decode.hasError())
        return QStringLiteral("is not valid UTF-8");
    for (const QChar c : text) {
        if (c.unicode() < 0x20)
            return QStringLiteral("holds a control character");
        if (QStringView(u"<>:\"\\|?*").contains(c))
            return QStringLiteral("holds the character '%1'").arg(c);
    }
    if (text.endsWith(u'.'))
        return QStringLiteral("ends in a dot");
    if (text.endsWith(u' '))
        return QStringLiteral("ends in a space");
    // "CON.txt" and "con .txt" are the device too: the part before the first dot, blanks trimmed at its end.
    QString stem = text.section(u'.', 0, 0);
    while (stem.endsWith(u' '))
        stem.chop(1);
    if (isDeviceName(stem))
        return QStringLiteral("is the device name %1").arg(stem.toUpper());
    if (text.size() > 255)
        return QStringLiteral("is longer than 255 characters");
    return {};
}

} // namespace fileop
