#pragma once
// Secrets (a broker password, a database token) come from files, never from the command line,
// which every user of the machine can read.
#include <QString>

// The first line of the file, without its line end (it may be empty). false with *why
// ("cannot read PATH: REASON") when the file cannot be read. Nothing here puts the secret into
// a message.
bool Secret_ReadFirstLine(const QString& path, QString* secret, QString* why);
