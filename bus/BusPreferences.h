#pragma once

#include "MqttClient.h"

#include <QString>
#include <optional>

// The [Bus] section of the preferences file: where the feed goes. Without a
// Broker key there is no feed at all.
struct TBusPreferences {
    QString host;
    int port = 1883;
    bool tls = false; // mqtts://
    QString user;     // empty: no user name sent
    QString password; // read from PasswordFile, never kept in the INI
    QString caFile;   // mqtts only; empty: the system's certificates
    QString radio;    // the topic level under corvalink/
    bool allowPlainText = false;
    int queueLimit = 10000; // feed messages waiting for the broker before new ones are dropped
    int journal = 20000;    // the owner's last traffic messages, kept for positions that missed them
    // Set: this console is a control-room position of that name, with no radio
    // of its own; it follows the radio's owner through the broker.
    QString position;
    // On the owner: commands from positions go to the radio. Off, each is refused.
    bool positionsMaySend = false;

    bool operator==(const TBusPreferences &) const = default;
};

// Reads [Bus] from the file. Nothing (and no problem) when the file or its
// Broker key is missing; nothing and a message in *problem naming the key when
// a value cannot be used: the feed is then off and the console runs as without it.
std::optional<TBusPreferences> LoadBusPreferences(const QString &fileName, QString *problem);

// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const QString &host);

// A name usable as a topic level: 1 to 64 letters, digits, '-', '_' or '.'.
bool IsPositionName(const QString &name);

// The broker's address, TLS and credentials as the preferences give them; the
// caller adds its client id, its will and its queue.
TMqttClient::TOptions BrokerOptions(const TBusPreferences &preferences);
