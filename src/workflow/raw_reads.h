// The raw diagnostic reads of the window's "Save" menu: an NTFS record's MFT entry and a
// volume's boot sector, exactly as they are on the volume.
#pragma once

#include <array>
#include <cstdint>

#include "catalogue/catalogue.h"
#include "messages/status_channel.h"
#include "volume/volume.h"

namespace fennick::workflow {

// 1,024 raw bytes of an NTFS record's MFT entry on its volume into buffer; false (buffer left
// as it was) for other records and when they cannot be read. Reader problems go to channel.
bool read_record_raw(const volume::Volume& volume, const catalogue::FoundFile& record,
                     std::array<std::uint8_t, 1024>& buffer, messages::StatusChannel& channel);
// Sector 0 of the volume into buffer; false (buffer left) when unreadable.
bool read_boot_sector_raw(const volume::Volume& volume, std::array<std::uint8_t, 512>& buffer,
                          messages::StatusChannel& channel);

}  // namespace fennick::workflow
