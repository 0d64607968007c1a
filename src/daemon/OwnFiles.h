// SPDX-License-Identifier: BSD-3-Clause
#pragma once

#include <QString>

// The daemon's files hold the account's messages and state: nobody else reads them, and
// nobody redirects them.
namespace OwnFiles {

// From now on the folders and files the process creates are its user's alone (0700 and
// 0600), whatever umask it was started with.
void keepPrivate();

// A symbolic link where one of the daemon's files should be is removed, with a warning,
// so that the file is written anew in its place rather than through the link.
void replaceLink(const QString &path);

}
