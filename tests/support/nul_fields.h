// The bytes of a datagram as a peer writes and reads them: fields, each
// ended by a NUL. Independent of the plug-in's own codec, so that tests hold
// that codec against a second reading.
#pragma once

#include <string>
#include <vector>

namespace vask::test {

using Fields = std::vector<std::string>;

// The bytes split at every NUL; a final NUL gives no empty last field, two
// NULs in a row give an empty field between them.
Fields SplitAtNul(const std::string& bytes);

// Every field followed by a NUL.
std::string Join(const Fields& fields);

// sequence NUL sender NUL target NUL command NUL [body NUL], as a copy of
// the plug-in builds a datagram; `sequence` is any text (a test may send one
// that is no number). The body may hold NULs of its own.
std::string Datagram(const std::string& sequence, const std::string& sender,
                     const std::string& target, const std::string& command,
                     const std::string& body = "");

}  // namespace vask::test
