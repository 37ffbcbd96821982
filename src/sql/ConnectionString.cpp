#include "sql/ConnectionString.h"

namespace ConnectionString {

namespace {

enum class Family { Microsoft18, Microsoft17, FreeTds, Legacy, WindowsBuiltIn };

Family familyOf(const QString& driver) {
    if (driver.compare(QStringLiteral("FreeTDS"), Qt::CaseInsensitive) == 0)
        return Family::FreeTds;
    if (driver.contains(QStringLiteral("Driver 18"), Qt::CaseInsensitive))
        return Family::Microsoft18;
    if (driver.contains(QStringLiteral("Driver 17"), Qt::CaseInsensitive))
        return Family::Microsoft17;
#ifdef Q_OS_WIN
    if (driver.compare(QStringLiteral("SQL Server"), Qt::CaseInsensitive) == 0)
        return Family::WindowsBuiltIn;
#endif
    return Family::Legacy;
}

// ODBC braces a value so that ';' and '=' inside it are data. A '}' inside is written '}}', which
// FreeTDS 1.3 does not understand: it would cut the value short and send the rest as keywords.
bool braced(const QString& value, Family family, QString* out) {
    if (value.contains(QLatin1Char('}'))) {
        if (family == Family::FreeTds)
            return false;
        *out = QLatin1Char('{') + QString(value).replace(QStringLiteral("}"), QStringLiteral("}}")) +
               QLatin1Char('}');
        return true;
    }
    *out = QLatin1Char('{') + value + QLatin1Char('}');
    return true;
}

SqlError refused(const QString& what) {
    return {SqlError::Kind::Refused, 0,
            what + QStringLiteral("中含有字符“}”，当前的 ODBC 驱动程序(FreeTDS)无法传送，未连接服务器。")};
}

}  // namespace

const QStringList& preferredDrivers() {
#ifdef Q_OS_WIN
    // "SQL Server" comes with every Windows. FreeTDS last: it is what a Windows program sees under wine,
    // whose ODBC hands calls to the host's driver manager.
    static const QStringList names{QStringLiteral("ODBC Driver 18 for SQL Server"),
                                   QStringLiteral("ODBC Driver 17 for SQL Server"),
                                   QStringLiteral("SQL Server Native Client 11.0"),
                                   QStringLiteral("SQL Server"), QStringLiteral("FreeTDS")};
#else
    static const QStringList names{QStringLiteral("ODBC Driver 18 for SQL Server"),
                                   QStringLiteral("ODBC Driver 17 for SQL Server"), QStringLiteral("FreeTDS"),
                                   QStringLiteral("SQL Server")};
#endif
    return names;
}

QString chooseDriver(const QStringList& installed) {
    for (const QString& wanted : preferredDrivers()) {
        for (const QString& name : installed) {
            if (name.trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
                return name.trimmed();
        }
    }
    return {};
}

ServerAddress parseServer(const QString& server) {
    ServerAddress a;
    const QString s = server.trimmed();
    const qsizetype comma = s.lastIndexOf(QLatin1Char(','));
    QString rest = s;
    if (comma >= 0) {
        a.port = s.mid(comma + 1).trimmed();
        rest = s.left(comma).trimmed();
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        a.instance = rest.mid(slash + 1).trimmed();
        rest = rest.left(slash).trimmed();
    }
    a.host = rest;
    return a;
}

Built build(const ConnectionSpec& spec, const QString& driver) {
    const Family family = familyOf(driver);
    Built b;
    QString drv, server, uid, pwd, db;
    if (!braced(spec.password, family, &pwd)) {
        b.error = refused(QStringLiteral("口令"));
        return b;
    }
    if (!braced(driver, family, &drv) || !braced(spec.login, family, &uid) ||
        !braced(spec.database, family, &db)) {
        b.error = refused(QStringLiteral("连接参数"));
        return b;
    }

    QStringList parts{QStringLiteral("DRIVER=") + drv};
    if (family == Family::FreeTds) {
        // FreeTDS takes the port as its own keyword; "host,port" and "host:port" are not its forms.
        const ServerAddress a = parseServer(spec.server);
        const QString host = a.instance.isEmpty() ? a.host : a.host + QLatin1Char('\\') + a.instance;
        if (!braced(host, family, &server)) {
            b.error = refused(QStringLiteral("服务器名称"));
            return b;
        }
        parts << QStringLiteral("SERVER=") + server;
        if (!a.port.isEmpty()) {
            QString port;
            if (!braced(a.port, family, &port)) {
                b.error = refused(QStringLiteral("服务器名称"));
                return b;
            }
            parts << QStringLiteral("PORT=") + port;
        }
    } else {
        braced(spec.server.trimmed(), family, &server);
        parts << QStringLiteral("SERVER=") + server;
    }
    parts << QStringLiteral("UID=") + uid << QStringLiteral("PWD=") + pwd << QStringLiteral("DATABASE=") + db;

    // The whole session encrypted whenever the server can: every SQL Server since 2005 can, with
    // the certificate it makes at start, which is not validated (TrustServerCertificate). A server
    // without TLS is then refused by the driver before the login, unless the operator allowed a
    // connect in clear: then the keys that encrypt the login whenever the server can, and accept
    // a server that cannot.
    // FreeTDS: encryption = request | require, https://www.freetds.org/userguide/freetdsconf.html
    // ODBC 17 and 18: Encrypt (17: yes | no; 18: Mandatory (= yes) | Optional (= no) | Strict) and
    // TrustServerCertificate, https://learn.microsoft.com/sql/connect/odbc/dsn-connection-string-attribute
    // and https://learn.microsoft.com/sql/connect/odbc/major-version-differences
    const bool clear = spec.allowUnencrypted;
    switch (family) {
        case Family::FreeTds:
            // Without a charset Chinese names arrive as '?'. Left to "auto", the driver retries a
            // login that timed out with the Sybase protocol, which then ignores the login timeout;
            // every SQL Server answers a 7.4 login with the version it speaks.
            parts << QStringLiteral("TDS_Version=7.4") << QStringLiteral("ClientCharset=UTF-8")
                  << (clear ? QStringLiteral("Encryption=request") : QStringLiteral("Encryption=require"));
            break;
        case Family::Microsoft18:
            parts << (clear ? QStringLiteral("Encrypt=Optional") : QStringLiteral("Encrypt=Mandatory"))
                  << QStringLiteral("TrustServerCertificate=yes");
            break;
        case Family::Microsoft17:
        case Family::Legacy:
            // Native Client 11.0 takes 17's keys: Encrypt=yes|no and TrustServerCertificate
            // (https://learn.microsoft.com/previous-versions/sql/sql-server-2012/ms130822(v=sql.110)).
            parts << (clear ? QStringLiteral("Encrypt=no") : QStringLiteral("Encrypt=yes"))
                  << QStringLiteral("TrustServerCertificate=yes");
            break;
        case Family::WindowsBuiltIn:
            // Windows' own driver documents Encrypt but no TrustServerCertificate
            // (https://learn.microsoft.com/openspecs/sql_server_protocols/ms-odbcstr/): Encrypt=yes
            // validates the certificate, so against a self-signed one only a connect the operator
            // allowed in clear succeeds, the login then encrypted whenever the server can
            // ([MS-TDS] 2.2.6.5, ENCRYPT_OFF).
            parts << (clear ? QStringLiteral("Encrypt=no") : QStringLiteral("Encrypt=yes"));
            break;
    }
    b.text = parts.join(QLatin1Char(';'));
    return b;
}

}  // namespace ConnectionString
