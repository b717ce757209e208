// Broker profiles in config.ini: the profile list of [system], and each
// profile's connection data, TLS settings, subscription topics and
// publish-topic history in the section named after it. Every call reads or
// writes the file at once; nothing is cached.
#pragma once

#include <QString>
#include <QStringList>

// TLS of a profile. A section without these keys reads as TLS off.
struct TProfileTls {
  bool Enabled = false;
  QString CAFile;    // empty: the system trust store
  QString CertFile;  // client certificate, optional
  QString KeyFile;   // its private key
  bool VerifyHostName = true;
  bool operator==(const TProfileTls&) const = default;
};

// What a connect reads from a profile.
struct TProfileConnection {
  QString Server;
  int Port = 1883;
  QString Username;
  QString Password;
  TProfileTls Tls;
};

// The profile names of [system] list.
QStringList ReadProfileNames();
// Appends a name to [system] list unless it is already listed.
void AddProfileName(const QString& AName);
// Rewrites [system] list from the window's rows.
void WriteProfileNames(const QStringList& ANames);
// Erases a profile's whole section.
void EraseProfile(const QString& AName);

TProfileConnection ReadProfileConnection(const QString& AName);
// The stored texts of server, port, username and password, as the profile
// dialog shows them (a missing key is empty).
struct TProfileTexts {
  QString Server, Port, Username, Password;
};
TProfileTexts ReadProfileTexts(const QString& AName);
void WriteProfileConnection(const QString& AName, const QString& AServer, int APort, const QString& AUsername,
                            const QString& APassword);

TProfileTls ReadProfileTls(const QString& AName);
// Writes the TLS keys; a profile that never had them and stays at TLS off
// keeps its section as it is.
void WriteProfileTls(const QString& AName, const TProfileTls& ATls);

// Subscription topics (key topic) and the publish-topic history (key dvsno).
QStringList ReadProfileTopics(const QString& AName);
void WriteProfileTopics(const QString& AName, const QStringList& ATopics);
QStringList ReadProfileHistory(const QString& AName);
void WriteProfileHistory(const QString& AName, const QStringList& AHistory);
void DeleteProfileHistory(const QString& AName);
