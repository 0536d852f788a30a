#pragma once

// Every terminal connection holds two descriptors (its socket and the reservation of its ID);
// the web servers, the database, the logs and the files written need more beside them, so a
// fleet of a few hundred terminals already exceeds the usual soft limit of 1024.
struct OpenFileLimit {
    long soft = 0;
    long hard = 0;
};

// Descriptors one terminal connection holds.
constexpr long kDescriptorsPerTerminal = 1;

// Raises the soft limit on open files to the hard limit. Returns the limits in force afterwards
// (zeros when they cannot be read).
OpenFileLimit raiseOpenFileLimit();

// The limits in force now (zeros when they cannot be read).
OpenFileLimit currentOpenFileLimit();

// Descriptors kept back from the terminals for everything else (the two HTTP ports with their
// downloads, the database, the logs and the files being written): half the limit, at most 1024.
long reservedDescriptors(long openFiles);

// Terminal connections that fit in openFiles descriptors: openFiles - reserve, at least 0.
long terminalBudget(long openFiles);

// Descriptors the service wants for maxConnCount terminals: the inverse of terminalBudget.
long openFilesWanted(int maxConnCount);
