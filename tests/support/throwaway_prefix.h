#pragma once
// The test, fuzz and benchmark binaries delete real file associations and
// the archiver's keys. They run only inside a Wine prefix that the test
// command made to be thrown away: make-prefixes.sh marks each such prefix
// with a file at the root of its drive C:, which no Windows has by accident.

// True when this process runs in such a marked prefix.
bool InsideThrowawayPrefix();

// Tells on stderr why `binary` does not run here and where it does; returns
// the exit code to end with.
int RefuseOutsideThrowawayPrefix(const char* binary);
