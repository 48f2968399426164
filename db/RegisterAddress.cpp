#include "db/RegisterAddress.h"

#include "platform/Error.h"

#include <QUrl>

namespace lianbu::db {

namespace {

Error badAddress(const QString &text, const QString &english, const QString &chinese)
{
    return Error(QStringLiteral("Invalid database server address \"%1\": %2").arg(text, english),
                 QStringLiteral("数据库服务器地址“%1”不正确：%2").arg(text, chinese));
}

// Percent-decoding that refuses what is not UTF-8 text.
QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

QString encoded(const QString &part, const QByteArray &keep = {})
{
    return QString::fromLatin1(QUrl::toPercentEncoding(part, keep));
}

} // namespace

bool RegisterAddress::operator==(const RegisterAddress &other) const
{
    return kind == other.kind && file == other.file && user == other.user && host == other.host && port == other.port
           && database == other.database;
}

bool isServerAddress(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

RegisterAddress parseRegisterAddress(const QString &text)
{
    RegisterAddress address;
    if (!isServerAddress(text)) {
        address.file = text;
        return address;
    }
    address.kind = RegisterAddress::Kind::Server;
    QString rest = text.mid(text.indexOf(QLatin1String("://")) + 3);
    if (rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        throw badAddress(text, QStringLiteral("parameters after \"?\" are not supported."),
                         QStringLiteral("不支持“?”后面的参数。"));
    const int slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0)
        throw badAddress(text, QStringLiteral("the database name is missing (…/dbname)."),
                         QStringLiteral("缺少数据库名（…/库名）。"));
    address.database = decoded(rest.mid(slash + 1));
    if (address.database.isEmpty() || address.database.contains(QLatin1Char('/')))
        throw badAddress(text, QStringLiteral("the database name is missing (…/dbname)."),
                         QStringLiteral("缺少数据库名（…/库名）。"));
    QString authority = rest.left(slash);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at < 0)
        throw badAddress(text, QStringLiteral("the user name is missing (user@host)."),
                         QStringLiteral("缺少用户名（用户@主机）。"));
    const QString userInfo = authority.left(at);
    authority = authority.mid(at + 1);
    const int colon = userInfo.indexOf(QLatin1Char(':'));
    address.user = decoded(colon < 0 ? userInfo : userInfo.left(colon));
    if (colon >= 0)
        address.password = decoded(userInfo.mid(colon + 1));
    if (address.user.isEmpty())
        throw badAddress(text, QStringLiteral("the user name is missing (user@host)."),
                         QStringLiteral("缺少用户名（用户@主机）。"));
    // host[:port]; an IPv6 host is written in brackets.
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            throw badAddress(text, QStringLiteral("\"]\" is missing after the IPv6 address."),
                             QStringLiteral("IPv6 地址后面缺少“]”。"));
        address.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                throw badAddress(text, QStringLiteral("unexpected text after the host."),
                                 QStringLiteral("主机后面有多余的文字。"));
            portText = after.mid(1);
        }
    } else {
        const int portColon = authority.lastIndexOf(QLatin1Char(':'));
        address.host = decoded(portColon < 0 ? authority : authority.left(portColon));
        if (portColon >= 0)
            portText = authority.mid(portColon + 1);
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            throw badAddress(text, QStringLiteral("the port must be a number from 1 to 65535."),
                             QStringLiteral("端口必须是 1 到 65535 之间的数字。"));
        address.port = port;
    }
    return address;
}

QString formatRegisterAddress(const RegisterAddress &address)
{
    if (!address.isServer())
        return address.file;
    QString host;
    if (address.host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + address.host + QLatin1Char(']');
    else
        host = encoded(address.host, ".-_~");
    // Concatenated, not .arg(): an encoded part holds "%2F" and the like.
    return QStringLiteral("postgresql://") + encoded(address.user) + QLatin1Char('@') + host + QLatin1Char(':')
           + QString::number(address.port) + QLatin1Char('/') + encoded(address.database);
}

QString describeRegister(const RegisterAddress &address)
{
    if (!address.isServer())
        return QStringLiteral("资料库：%1").arg(address.file);
    const QString host = address.host.isEmpty() ? QStringLiteral("本机") : address.host;
    return QStringLiteral("服务器：%1@%2:%3/%4")
        .arg(address.user, host, QString::number(address.port), address.database);
}

QString describeRegisterBriefly(const RegisterAddress &address)
{
    if (!address.isServer())
        return describeRegister(address);
    const QString host = address.host.isEmpty() ? QStringLiteral("本机") : address.host;
    return QStringLiteral("服务器：%1/%2").arg(host, address.database);
}

} // namespace lianbu::db
