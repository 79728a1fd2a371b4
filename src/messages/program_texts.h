// Numbers of the texts the Linux program adds to the numbered messages: lines about the
// destination folder, the volume being wiped, what a root-run window does not start, a
// failing medium, the deep scan, a drive Clean Disk cannot work on, adding images, the
// end of a recovery run and its time left.
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

constexpr int program_text_first = 500;
constexpr int program_text_last = 527;

}  // namespace fennick::messages
