// The version block of the executable that compiles this file in; read back
// by TCEVersionInfo. The entries are plain literals so that the block sits in
// the file exactly as written here.
#include "BuildVersion.h"

namespace {

[[gnu::used, gnu::section(".quvo_version")]] const char kQuvoVersionBlock[] =
    "@@QUVO_VERSION_BLOCK_BEGIN@@" "\0"
    "CompanyName=Veltaris" "\0"
    "FileDescription=QUVO Hardware Client" "\0"
    "FileVersion=" QUVO_PRODUCT_VERSION ".0" "\0"
    "InternalName=quvo-hwclient" "\0"
    "LegalCopyright=Copyright \u00a9 Veltaris" "\0"
    "LegalTradeMarks=QUVO" "\0"
    "OriginalFilename=quvo-hwclient" "\0"
    "ProductName=QUVO Windows HardwareClient for TellStick" "\0"
    "ProductVersion=" QUVO_PRODUCT_VERSION "\0"
    "Comments=Switches a TellStick receiver on unconfirmed calls" "\0"
    "SpecialBuild=" "\0"
    "@@QUVO_VERSION_BLOCK_END@@";

} // namespace
