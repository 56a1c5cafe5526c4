// The registry: every format family this build knows. A new family is one
// file pair and one row here. The order matters only where two families
// could serve the same analyzer type: the first row wins.
#include "engine/format.h"

namespace morph {

extern const FormatDescriptor kPcapFormat, kPacketFileFormat, kTaggedPacketFileFormat,
    kNetMonFormat, kSnoopFormat, kSnoopTrailerFormat, kTextDumpFormat, kSnifferDosFormat,
    kSnifferProFormat, kAdvisorFormat, kInternetAdvisorFormat, kNetMetrixFormat;
// Recognised, not yet read (recognised.cpp).
extern const FormatDescriptor kLanDeskFormat, kLanAlyzerFormat, kDa30Format, kDna323Format,
    kDataGlanceFormat, kFireBerd500Format, kLan900Format, kObserverFormat, kNetScoutFormat,
    kDominoFormat;

namespace {

const FormatDescriptor* const kFormats[] = {
    &kPcapFormat,
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
};

}  // namespace

std::span<const FormatDescriptor* const> RegisteredFormats() { return kFormats; }

}  // namespace morph
