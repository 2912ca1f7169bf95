// The log folder `kestrane-host secure` makes before the service first runs. It runs as
// SYSTEM, and users may create folders in %ProgramData%: whatever stands in the folder's
// place and is not fit for the log (a folder of someone else's, one open to others, a link,
// a file) was not made by the install and is moved aside, never used or deleted.
#pragma once

#include <string>

namespace Kestrane::Host {

// How many names a moved-aside folder tries (Kestrane.moved-<time>-<n>) before `secure`
// gives up: each is taken only if nothing has it, so a user who made one cannot make
// the move land in a place of theirs.
constexpr int kMoveAsideNames = 16;

// Secures `folder` (the log folder, or a test's), moving aside what is unfit in its place
// first; `movedTo` gets the name it now has (empty when nothing moved), for the log, which
// is opened only once the folder is fit. 0 when the folder is ready, or when there is no
// %ProgramData% to put it in (the service says so when it starts); 1 otherwise. Says what
// it did on standard output.
int SecureLogFolderMovingAside(const std::wstring& folder, std::wstring* movedTo);

// %ProgramData%\Kestrane, or empty when %ProgramData% is not set.
std::wstring DefaultLogFolderPath();

}  // namespace Kestrane::Host
