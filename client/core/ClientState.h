#pragma once

#include <QMetaType>

// What the client can do, as the tray shows it. The numbers are the ones the log and the settings have
// always shown.
enum class ClientState : int {
    NotSetUp = 0,           // setup not done: no credentials yet
    Enabled = 1,            // fetching on schedule
    InvalidCredentials = 2, // the service refused the stored login
    InvalidDestination = 3, // the account delivers elsewhere
    FolderMissing = 4,      // the fetch folder is not where the settings say
    Error = 5,              // the service reported a failure; see the scheduler's lastError
};
Q_DECLARE_METATYPE(ClientState)
