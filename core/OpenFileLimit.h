#pragma once

// Every terminal connection holds two descriptors (its socket and the reservation of its ID)
// and every download and page request one more, so a fleet of a few hundred terminals already
// exceeds the usual soft limit of 1024.
struct OpenFileLimit {
    long soft = 0;
    long hard = 0;
};

// Raises the soft limit on open files to the hard limit. Returns the limits in force afterwards
// (zeros when they cannot be read).
OpenFileLimit raiseOpenFileLimit();

// Descriptors the service wants for maxConnCount terminals, with room for the web servers,
// the database and the logs.
long openFilesWanted(int maxConnCount);
