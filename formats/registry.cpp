// The registry: every format family this build knows. A new family is one
// file pair and one row here. The order matters only where two families
// could serve the same analyzer type: the first row wins.
#include "engine/format.h"

namespace morph {

extern const FormatDescriptor kPcapFormat, kPcapngFormat, kPacketFileFormat, kTaggedPacketFileFormat,
    kNetMonFormat, kSnoopFormat, kSnoopTrailerFormat, kTextDumpFormat, kSnifferDosFormat,
    kSnifferProFormat, kObserverFormat, kLanAlyzerFormat, kDataGlanceFormat, kLan900Format,
    kNetScoutFormat, kDominoFormat, kDa30Format, kFireBerd500Format, kDna323Format,
    kAdvisorFormat, kInternetAdvisorFormat, kNetMetrixFormat;
// Recognised, not yet read, or known by name only (recognised.cpp).
extern const FormatDescriptor kLanDeskFormat, kNamedOnlyFormat;

namespace {

const FormatDescriptor* const kFormats[] = {
    &kPcapFormat,
    &kPcapngFormat,
    &kPacketFileFormat,
    &kTaggedPacketFileFormat,
    &kNetMonFormat,
    &kSnoopFormat,
    &kSnoopTrailerFormat,
    &kTextDumpFormat,
    &kSnifferDosFormat,
    &kSnifferProFormat,
    &kAdvisorFormat,
    &kInternetAdvisorFormat,
    &kNetMetrixFormat,
    &kLanDeskFormat,
    &kLanAlyzerFormat,
    &kDa30Format,
    &kDna323Format,
    &kDataGlanceFormat,
    &kFireBerd500Format,
    &kLan900Format,
    &kObserverFormat,
    &kNetScoutFormat,
    &kDominoFormat,
    &kNamedOnlyFormat,
};

}  // namespace

std::span<const FormatDescriptor* const> RegisteredFormats() { return kFormats; }

}  // namespace morph
