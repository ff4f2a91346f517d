// Closing the last descriptor of a file whose name is gone frees the file's pages, and for a
// big file held in memory (tmpfs) that takes a while: about a tenth of a second per GiB. A
// download that replaced such a file lets the old one go on a thread of its own, so that the
// next step need not wait for it.
#pragma once

namespace tarnex::platform {

// Closes `fd` on the closing thread (started by the first call); the descriptor is the
// thread's from here on. Where no thread can be started it is closed at once. At the end of
// the program the thread closes what it still holds before it ends.
void CloseInBackground(int fd);
// Returns once every descriptor handed over so far has been closed.
void WaitForBackgroundCloses();

}  // namespace tarnex::platform
