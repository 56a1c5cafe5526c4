#include "engine/link_types.h"

namespace morph {
namespace {

struct LinkTypeEntry {
  uint32_t number;
  const char* name;
};

// The link types captures of today mostly carry; any other is named by its
// number alone.
constexpr LinkTypeEntry kLinkTypes[] = {
    {0, "BSD loopback"},   {1, "Ethernet"},          {6, "Token Ring"},
    {8, "SLIP"},           {9, "PPP"},               {10, "FDDI"},
    {50, "PPP in HDLC"},   {51, "PPP over Ethernet"}, {100, "ATM RFC 1483"},
    {101, "raw IP"},       {104, "Cisco HDLC"},      {105, "802.11 Wireless"},
    {107, "Frame Relay"},  {108, "OpenBSD loopback"}, {113, "Linux cooked"},
    {119, "802.11 Prism"}, {127, "802.11 radiotap"}, {147, "user 0"},
    {163, "802.11 AVS"},   {187, "Bluetooth HCI H4"}, {192, "PPI"},
    {195, "802.15.4"},     {220, "Linux USB"},       {228, "raw IPv4"},
    {229, "raw IPv6"},     {239, "Linux netfilter log"}, {249, "USBPcap"},
    {252, "Wireshark upper PDU"}, {253, "Linux netlink"}, {276, "Linux cooked v2"},
};

}  // namespace

const char* LinkTypeName(uint32_t linkType) {
  for (const LinkTypeEntry& entry : kLinkTypes)
    if (entry.number == linkType) return entry.name;
  return nullptr;
}

std::string LinkTypeText(uint32_t linkType) {
  std::string text = "link type " + std::to_string(linkType);
  if (const char* name = LinkTypeName(linkType)) text += std::string(" (") + name + ")";
  return text;
}

}  // namespace morph
