#pragma once

#include <cstddef>
#include <lo/lo_lowlevel.h>
#include <string>
#include <string_view>

namespace fw {

// The largest packet read whole; a longer one is cut there, which liblo then refuses.
constexpr std::size_t LargestPacket = 65536;

// liblo's reader, with no socket anything can reach (the link's sockets are where the packets
// come in), and a bundle's time tag not waited for; null with `why` set.
lo_server readerWithoutSocket(std::string& why);
// Whether every bundle in the packet, nested ones too, is made of whole elements, as liblo
// takes for granted.
bool wholeBundles(const char* data, std::size_t size);
// Whether the address pattern ("/*/go", "/board/{helm,deck}/hold") matches the address.
bool addressMatches(std::string_view pattern, std::string_view address);
// The cue as a line: its name, then each argument after a blank.
std::string cueText(std::string cue, const char* types, lo_arg** argv, int argc);

}
