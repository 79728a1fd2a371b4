// Numbers of the texts the Linux program adds to the numbered messages: lines about the
// destination folder, the volume being wiped, what a root-run window does not start, a
// failing medium, the deep scan, a drive Clean Disk cannot work on, adding images, the
// end of a recovery run and its time left, why a recovery failed or a wipe left a file alone,
// and what is wrong with a damaged volume.
// Every language holds the whole block (500 up to program_text_last); a caller joins each
// text with the value it names, as with the other messages.
#pragma once

namespace fennick::messages {

// " A symbolic link is in the way and was not followed: " + the link's path.
constexpr int link_not_followed = 500;
// " Left alone, not a regular file: " + its path (a FIFO, a device, a socket, a folder).
constexpr int not_a_regular_file = 501;
// " The volume is mounted; unmount it before wiping: " + the volume's path.
constexpr int wipe_refused_mounted = 502;
// " The volume is no longer the one that was scanned; nothing was written: " + its path.
constexpr int volume_not_the_scanned_one = 503;
// " Recovery stopped: the destination folder has no room for " + the output path.
constexpr int destination_full = 504;
// " Running as root, no other program is started. Open it yourself: " + address or path.
constexpr int root_starts_no_program = 505;
// " Not a volume or disk image that can be read: " + the file's path ("Add image...").
constexpr int not_a_readable_image = 506;

// " Read error, these bytes of the volume cannot be read and are skipped: " + "51200-52735".
constexpr int unreadable_stretch = 507;
// " Read error: the medium is gone (removed or disconnected); nothing more can be read from it"
constexpr int medium_gone = 508;
// " Recovered with zeros in place of bytes that could not be read: " + the output path, ": "
// and the file's byte ranges that are zeros.
constexpr int zeros_for_unreadable_bytes = 509;

// "Lost folders": the folder the deep scan puts found folders under whose parent is unknown.
constexpr int lost_folders = 510;
// "Folder " + a cluster number: the made-up name of a found folder no entry names.
constexpr int made_up_folder_name = 511;

// "Deep scan": the check box beside Start Scan.
constexpr int deep_scan = 512;

// " Files recovered: " + a count + ", not recovered: " + a count: the line a recovery run
// ends with.
constexpr int files_recovered = 513;
constexpr int files_not_recovered = 514;

// " Not mounted; mount it first to clean it: " + the drive's path (the Clean Disk window).
constexpr int drive_not_mounted = 515;

// "Add image...": the drive tree's pop-up entry, the toolbar button and the file dialog's title.
constexpr int add_image = 516;
// " Cannot open " + an address or path no program could be started for.
constexpr int cannot_open = 517;
// " Warning: the destination folder is on drive " + "D:\" + the rest of the warning: a file
// written there can overwrite the deleted files still to be recovered.
constexpr int destination_on_source = 518;
constexpr int destination_on_source_rest = 519;
// " Cannot list " + a folder + ": " + the reason (the drive list's sources).
constexpr int cannot_list = 520;
// " Already listed: " + an image file's path.
constexpr int already_listed = 521;
// The file dialog's two filters: "Volume and disk images" and "All files".
constexpr int image_files_filter = 522;
constexpr int all_files_filter = 523;
// "Cannot wipe " + a file's name + ": the image's format is not written in place: " + the
// image, or + ": " + the system's reason.
constexpr int cannot_wipe = 524;
constexpr int image_not_written_in_place = 525;
// "Open destination folder": the button of the dialog a recovery ends with.
constexpr int open_destination = 526;
// "Time left: " + "1:05" on the progress bar of a recovery run.
constexpr int time_left = 527;

// The lines of a recovery that fails or is not whole; each is joined after " Error: ".
// "the file's clusters leave the volume at cluster " + a cluster number + ": " + the output path.
constexpr int cluster_outside_volume = 528;
// "cannot read cluster " + a cluster number + ": " + the output path (the medium is gone).
constexpr int cannot_read_cluster = 529;
// "clusters that cannot be read are left as zeros, from cluster " + a cluster number + ": " +
// the output path: the first of a stretch of clusters past the end of a cut image.
constexpr int clusters_left_as_zeros = 530;
// "the volume holds only part of the file, bytes found: " + a count + ", of the file's size: "
// + the size + ": " + the output path.
constexpr int file_not_whole = 531;
constexpr int file_not_whole_size = 532;
// "the boot sector gives no usable cluster size", alone or + ": " + the output path or a
// file's name (a FAT volume's scan, recovery and wipe).
constexpr int unusable_cluster_size = 533;
// "cannot write " + the output path + ": " + the system's reason.
constexpr int cannot_write = 534;
// "a damaged compressed unit is written as far as it decodes, from cluster " + the unit's first
// cluster in the file + ": " + the output path.
constexpr int compressed_unit_damaged = 535;
// "the file's MFT record cannot be read and the file stays empty, record " + the record number
// + ": " + the output path; the same for a record with no data.
constexpr int mft_record_unreadable = 536;
constexpr int mft_record_without_data = 537;
// "the file's volume is not in the drive table: " + the output path.
constexpr int volume_not_in_drive_table = 538;

// Why a wipe left a file alone: " Error: " + a reason + ", nothing was written" + ": " + the
// file's name (FAT and exFAT), or " Error: " + "Cannot wipe " (524) + the name + ": " + a reason
// (NTFS). A reason that names a value has it at its end.
constexpr int nothing_written = 539;
constexpr int directory_cluster_outside = 540;
constexpr int entry_outside_cluster = 541;
constexpr int cannot_read_directory = 542;
constexpr int entry_outside_root = 543;
constexpr int set_past_root_end = 544;
constexpr int set_without_short_entry = 545;
constexpr int no_next_directory_cluster = 546;
constexpr int entry_not_deleted = 547;
constexpr int entry_changed = 548;
// "cannot write the directory at sector " + a sector number.
constexpr int cannot_write_directory = 549;
constexpr int entry_outside_volume = 550;
constexpr int entry_set_unreadable = 551;
constexpr int record_gone = 552;
constexpr int record_unnumbered = 553;
constexpr int record_sequence_damaged = 554;
constexpr int record_torn = 555;
constexpr int record_in_use = 556;
// "the MFT record now belongs to record number " + a record number.
constexpr int record_renumbered = 557;
constexpr int record_renumbered_unknown = 558;
constexpr int record_outside_mft = 559;
constexpr int record_place_outside = 560;
constexpr int record_inside_mft = 561;
constexpr int cluster_bitmap_unreadable = 562;
constexpr int record_clusters_in_use = 563;
constexpr int mft_unreadable = 564;
constexpr int record_place_unknown = 565;
constexpr int record_moved = 566;
constexpr int record_unreadable = 567;
constexpr int record_not_written = 568;

// " Error: " + "not a folder or file of root's own; the settings were not saved: " + the path
// in the way of root's settings file.
constexpr int settings_not_saved = 569;

// Why an exFAT volume cannot be used, after " Error: " (alone, or + ": " + an output path or a
// file's name): its boot sector or its clusters cannot be read.
constexpr int boot_sector_unreadable = 570;
constexpr int volume_unreadable = 571;
// What an exFAT scan says of a damaged volume, after " Error: ".
constexpr int boot_checksum_mismatch = 572;
constexpr int allocation_bitmap_unreadable = 573;
// "entry sets that do not match their checksum, their files graded lower: " + a count.
constexpr int entry_set_checksum_mismatches = 574;

// "Select the destination folder": the title of the folder dialog of the "..." button.
constexpr int choose_destination = 575;

// What an NTFS volume's boot sector or MFT is found to lack, each a log line of its own.
constexpr int mft_attribute_list_unreadable = 576;
// "An MFT extension record cannot be read: " + its number + ", the MFT records are skipped
// from VCN " + the first VCN it maps.
constexpr int mft_extension_unreadable = 577;
constexpr int mft_records_skipped_from = 578;
// "An attribute claims more clusters than the volume has: " + the clusters it claims +
// ", the volume's clusters: " + the volume's + ": " + the attribute ("$MFT/$BITMAP").
constexpr int attribute_too_long = 579;
constexpr int attribute_too_long_volume = 580;
// "The NTFS boot sector cannot be used: " + one of the five fields below, each with its value
// (if it has one) at the end.
constexpr int ntfs_boot_unusable = 581;
constexpr int boot_bytes_per_sector = 582;
constexpr int boot_no_sectors_per_cluster = 583;
constexpr int boot_total_sectors = 584;
constexpr int boot_mft_outside = 585;
constexpr int boot_record_size = 586;
constexpr int mft_no_data_attribute = 587;
// "The MFT's data size is not valid: " + the size.
constexpr int mft_data_size_invalid = 588;
// "The MFT's size exceeds the volume: " + the size + ", records that are read: " + a count;
// the same for an MFT larger than what its runs map.
constexpr int mft_exceeds_volume = 589;
constexpr int mft_records_read = 590;
constexpr int mft_exceeds_runs = 591;

// Why an exFAT boot sector describes no usable layout, after " Error: "; the values the
// text names in brackets follow its ": ", joined by ", " ("24, 8, 30").
constexpr int exfat_not_named = 592;
constexpr int exfat_no_signature = 593;
constexpr int exfat_shifts = 594;
constexpr int exfat_fat_count = 595;
constexpr int exfat_fat_place = 596;
constexpr int exfat_heap_past_end = 597;
constexpr int exfat_root_outside = 598;

// " Hash manifest written: " + its path, at the end of a recovery run that writes one.
constexpr int manifest_written = 599;
// " Cannot write the hash manifest: " + the system's reason + ": " + its path.
constexpr int manifest_not_written = 600;
// "Write hash manifest": the box in the destination row.
constexpr int write_manifest = 601;

// The end line of a recovery run and its summary tell apart how the files that were not
// recovered whole ended: " Files recovered: " + N, then each of these + a count where the
// count is not 0, then ", not recovered: " + the failed files.
// ", overwritten: ": copied, but graded overwritten (their content is likely another file's).
constexpr int files_overwritten = 602;
// ", with zeros for unreadable bytes: "
constexpr int files_with_zeros = 603;
// ", with damaged compressed units: "
constexpr int files_with_damaged_units = 604;
// ", interrupted: ": the file a stop cut short.
constexpr int files_interrupted = 605;
// " Copied, but overwritten (its content is likely another file's): " + the output path: the
// line a file graded overwritten gets in place of " Undeleted successfully: ".
constexpr int copied_but_overwritten = 606;
// " Recovered with damaged compressed units, zeros where they did not decode: " + the output
// path + ": " + the byte ranges ("0-65535, 131072-196607").
constexpr int damaged_compressed_units = 607;

constexpr int program_text_first = 500;
constexpr int program_text_last = 607;

}  // namespace fennick::messages
