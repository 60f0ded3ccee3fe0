// What the image and TIFF libraries say about a file (libtiff's
// "Fax3Decode1D: Buffer overflow at line 0 of strip 0.", libjpeg's
// "Unsupported JPEG data precision 12") is kept here instead of being
// printed on the user's terminal: a message about a document names the
// document and says what to do, and may show these words only as details.
#pragma once

#include <string>

namespace miravo {

// From now on libtiff's errors and warnings are kept rather than printed,
// in this process and in every library that reads TIFF through libtiff
// (Qt's image plug-in too). Safe to call more than once and from any thread.
void KeepLibraryMessages();

// The messages kept since the last call, oldest first, one a line, at most
// a few kilobytes; the store is emptied.
std::string TakeLibraryMessages();

}  // namespace miravo
