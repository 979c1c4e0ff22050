// Pieces of the POP3 dialogue that stand on their own.
#pragma once

#include <string>
#include <string_view>

namespace dovrik {

// Reads the two numbers of a STAT reply (the whole receive buffer, CR LF included) into
// aCount and aSize. Without two blank-separated fields behind the status word both stay as they
// are and the result is false; a field that is not an integer gives -1.
bool ParseStatReply(std::string_view aReply, int& aCount, int& aSize);

// Reads the id of message aNumber from a UIDL reply ("+OK 2 id" CR LF) into anId. False, with
// anId unchanged, for a refusal, another number or an id that is not 1 to 70 printable characters.
bool ParseUidlReply(std::string_view aReply, int aNumber, std::string& anId);

}  // namespace dovrik
