#include "ProfileStore.h"

#include "ConfigFile.h"

namespace {
const QString kSystem = QStringLiteral("system");
const QString kList = QStringLiteral("list");
const QString kTls = QStringLiteral("tls");
const QString kTlsCA = QStringLiteral("tls_cafile");
const QString kTlsCert = QStringLiteral("tls_certfile");
const QString kTlsKey = QStringLiteral("tls_keyfile");
const QString kTlsVerifyHost = QStringLiteral("tls_verifyhost");
}  // namespace

QStringList ReadProfileNames() {
  const QString list = ConfigFile().ReadString(kSystem, kList, QString());
  if (list.isEmpty()) return {};
  return CommaListItems(list);
}

void AddProfileName(const QString& AName) {
  TIniFile ini = ConfigFile();
  const QString list = ini.ReadString(kSystem, kList, QString());
  if (list.isEmpty()) {
    ini.WriteString(kSystem, kList, CommaListElement(AName) + QLatin1Char(','));
  } else if (!SplitCommaList(list).contains(AName, Qt::CaseSensitive)) {
    ini.WriteString(kSystem, kList, list + CommaListElement(AName) + QLatin1Char(','));
  }
}

void WriteProfileNames(const QStringList& ANames) {
  ConfigFile().WriteString(kSystem, kList, JoinCommaList(ANames));
}

void EraseProfile(const QString& AName) { ConfigFile().EraseSection(AName); }

TProfileConnection ReadProfileConnection(const QString& AName) {
  const TIniFile ini = ConfigFile();
  TProfileConnection c;
  c.Server = ini.ReadString(AName, QStringLiteral("server"), QString());
  c.Port = ini.ReadInteger(AName, QStringLiteral("port"), 1883);
  c.Username = ini.ReadString(AName, QStringLiteral("username"), QString());
  c.Password = ini.ReadString(AName, QStringLiteral("password"), QString());
  c.Tls = ReadProfileTls(AName);
  return c;
}

TProfileTexts ReadProfileTexts(const QString& AName) {
  const TIniFile ini = ConfigFile();
  return {ini.ReadString(AName, QStringLiteral("server"), QString()),
          ini.ReadString(AName, QStringLiteral("port"), QString()),
          ini.ReadString(AName, QStringLiteral("username"), QString()),
          ini.ReadString(AName, QStringLiteral("password"), QString())};
}

void WriteProfileConnection(const QString& AName, const QString& AServer, int APort, const QString& AUsername,
                            const QString& APassword) {
  TIniFile ini = ConfigFile();
  ini.WriteString(AName, QStringLiteral("server"), AServer);
  ini.WriteInteger(AName, QStringLiteral("port"), APort);
  ini.WriteString(AName, QStringLiteral("username"), AUsername);
  ini.WriteString(AName, QStringLiteral("password"), APassword);
}

TProfileTls ReadProfileTls(const QString& AName) {
  const TIniFile ini = ConfigFile();
  TProfileTls t;
  t.Enabled = ini.ReadInteger(AName, kTls, 0) != 0;
  t.CAFile = ini.ReadString(AName, kTlsCA, QString());
  t.CertFile = ini.ReadString(AName, kTlsCert, QString());
  t.KeyFile = ini.ReadString(AName, kTlsKey, QString());
  t.VerifyHostName = ini.ReadInteger(AName, kTlsVerifyHost, 1) != 0;
  return t;
}

void WriteProfileTls(const QString& AName, const TProfileTls& ATls) {
  TIniFile ini = ConfigFile();
  const QString absent = QStringLiteral("\x01");
  const bool hadKeys = ini.ReadString(AName, kTls, absent) != absent;
  if (!hadKeys && ATls == TProfileTls{}) return;
  ini.WriteInteger(AName, kTls, ATls.Enabled ? 1 : 0);
  ini.WriteString(AName, kTlsCA, ATls.CAFile);
  ini.WriteString(AName, kTlsCert, ATls.CertFile);
  ini.WriteString(AName, kTlsKey, ATls.KeyFile);
  ini.WriteInteger(AName, kTlsVerifyHost, ATls.VerifyHostName ? 1 : 0);
}

QStringList ReadProfileTopics(const QString& AName) {
  return CommaListItems(ConfigFile().ReadString(AName, QStringLiteral("topic"), QString()));
}

void WriteProfileTopics(const QString& AName, const QStringList& ATopics) {
  ConfigFile().WriteString(AName, QStringLiteral("topic"), JoinCommaList(ATopics));
}

QStringList ReadProfileHistory(const QString& AName) {
  return CommaListItems(ConfigFile().ReadString(AName, QStringLiteral("dvsno"), QString()));
}

void WriteProfileHistory(const QString& AName, const QStringList& AHistory) {
  ConfigFile().WriteString(AName, QStringLiteral("dvsno"), JoinCommaList(AHistory));
}

void DeleteProfileHistory(const QString& AName) { ConfigFile().DeleteKey(AName, QStringLiteral("dvsno")); }
