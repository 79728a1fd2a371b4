// Names of the numbered messages: message k of every language (message_catalogue.h)
// under a name that says what its text is about. The comment above each name quotes
// the English text (shortened where long; blanks at the ends belong to the text). The
// program's own texts from 500 up are named in program_texts.h.
#pragma once

namespace fennick::messages {

// "English": each language's own name
constexpr int language_own_name = 0;
// "Drives"
constexpr int panel_drives = 1;
// "Types"
constexpr int panel_types = 2;
// "Folders"
constexpr int panel_folders = 3;
// "Fast Search"
constexpr int fast_search = 4;
// " -  Main": after the program's name in the main window's title
constexpr int main_title_suffix = 5;
// "Version: "
constexpr int version_label = 6;
// "Filter ON"
constexpr int filter_on = 7;
// "Filter OFF"
constexpr int filter_off = 8;
// "Files: "
constexpr int files_label = 9;
// "My Computer"
constexpr int my_computer = 10;
// "Refresh List"
constexpr int refresh_list = 11;
// "Start Scan"
constexpr int start_scan = 12;
// "Stop Scan"
constexpr int stop_scan = 13;
// "Start Undelete"
constexpr int start_undelete = 14;
// "Stop Undelete"
constexpr int stop_undelete = 15;
// "Start Wipe"
constexpr int start_wipe = 16;
// "Stop Wipe"
constexpr int stop_wipe = 17;
// "Filter"
constexpr int filter_button = 18;
// "Update"
constexpr int update_button = 19;
// "Files"
constexpr int files_header = 20;
// "Status"
constexpr int status_tab = 21;
// "Preview"
constexpr int preview_tab = 22;
// "Undelete selected file(s) to:"
constexpr int undelete_to = 23;
// "Open ..."
constexpr int open_folder = 24;
// "Sort By"
constexpr int sort_by = 25;
// "None": first sort choice; 27..32 are the others and the list's column headers
constexpr int field_none = 26;
// "Filename"
constexpr int field_filename = 27;
// "Path"
constexpr int field_path = 28;
// "Status"
constexpr int field_status = 29;
// "Size"
constexpr int field_size = 30;
// "Date Created"
constexpr int field_date_created = 31;
// "Date Modified"
constexpr int field_date_modified = 32;
// "Stop"
constexpr int stop_button = 33;
// " Building list. Please wait ... "
constexpr int building_list = 34;
// " Files with potentially recoverable content: "
constexpr int recoverable_files = 35;
// "Undelete Selected"
constexpr int undelete_selected = 36;
// "Wipe Selected"
constexpr int wipe_selected = 37;
// " Scan ": + the drive's root
constexpr int scan_started = 38;
// " Process interrupted"
constexpr int process_interrupted = 39;
// " End scan "
constexpr int scan_ended = 40;
// " ERROR: Drive Error"
constexpr int drive_error = 41;
// " Application was started at "
constexpr int started_at = 42;
// "Error": status word of a file, 43..50 by quality
constexpr int quality_error = 43;
// "Compressed"
constexpr int quality_compressed = 44;
// "Encrypted"
constexpr int quality_encrypted = 45;
// "Overwritten"
constexpr int quality_overwritten = 46;
// "Bad"
constexpr int quality_bad = 47;
// "Middle"
constexpr int quality_middle = 48;
// "Good"
constexpr int quality_good = 49;
// "Very Good"
constexpr int quality_very_good = 50;
// " No drives to scan"
constexpr int no_drives_to_scan = 51;
// " Start undelete"
constexpr int undelete_started = 52;
// " Undelete process interrupted"
constexpr int undelete_interrupted = 53;
// " End undelete"
constexpr int undelete_ended = 54;
// " No files to undelete"
constexpr int no_files_to_undelete = 55;
// " No files to preview"
constexpr int no_files_to_preview = 56;
// "Are you sure? Press YES to proceed with wipe."
constexpr int confirm_wipe = 57;
// " Wipe process interrupted"
constexpr int wipe_interrupted = 58;
// " End Wipe"
constexpr int wipe_ended = 59;
// " No files to wipe"
constexpr int no_files_to_wipe = 60;
// " ADMIN MODE"
constexpr int admin_mode = 61;
// " -  Filter": after the program's name in the filter window's title
constexpr int filter_title_suffix = 62;
// "All or part of the file name:"
constexpr int filter_by_name = 63;
// "When was it modified?"
constexpr int filter_by_date = 64;
// "From"
constexpr int date_from = 65;
// "To"
constexpr int date_to = 66;
// "Modified Date"
constexpr int modified_date = 67;
// "Created Date"
constexpr int created_date = 68;
// "What size is it?"
constexpr int filter_by_size = 69;
// "at least"
constexpr int size_at_least = 70;
// "at most"
constexpr int size_at_most = 71;
// " Error: "
constexpr int error_prefix = 72;
// " Process interrupted: "
constexpr int interrupted_prefix = 73;
// " Undeleted successfully: "
constexpr int undeleted_prefix = 74;
// " Wiped successfully: "
constexpr int wiped_prefix = 75;
// "Preview is not available for this type of file"
constexpr int no_preview_for_type = 76;
// "Preview is not available for this file. File is corrupted."
constexpr int no_preview_corrupted = 77;
// "Select All Drives"
constexpr int select_all_drives = 78;
// "UnSelect All Drives"
constexpr int unselect_all_drives = 79;
// "Reverse selection"
constexpr int reverse_drive_selection = 80;
// "Undelete selected"
constexpr int menu_undelete_selected = 81;
// "Wipe selected"
constexpr int menu_wipe_selected = 82;
// "Select All Files"
constexpr int select_all_files = 83;
// "UnSelect All Files"
constexpr int unselect_all_files = 84;
// "Reverse selection"
constexpr int reverse_file_selection = 85;
// "Set Filter"
constexpr int set_filter = 86;
// "Cancel"
constexpr int cancel_button = 87;
// "Help"
constexpr int help_button = 88;
// "Lng"
constexpr int languages_header = 89;
// "Keep folder structure"
constexpr int keep_folder_structure = 90;
// "Total file size: "
constexpr int total_file_size = 91;
// " - Clean Disk": after the program's name in the Clean Disk window's title
constexpr int clean_title_suffix = 92;
// "Directory Entries"
constexpr int clean_directory_entries = 93;
// "Cluster Tips"
constexpr int clean_cluster_tips = 94;
// "Free disk space (and Master File Table Records)"
constexpr int clean_free_space = 95;
// "Start Clean"
constexpr int start_clean = 96;
// "Stop Clean"
constexpr int stop_clean = 97;
// "[Select drive]"
constexpr int select_drive = 98;
// " Clean Disk module was loaded at "
constexpr int clean_started_at = 99;
// " No drive to clean"
constexpr int no_drive_to_clean = 100;
// " No action selected"
constexpr int no_clean_action = 101;
// " Erase directory entries ..."
constexpr int erasing_directory_entries = 102;
// " Ok"
constexpr int clean_ok = 103;
// " Operation have been finished with errors"
constexpr int clean_finished_with_errors = 104;
// " Erase cluster tips ..."
constexpr int erasing_cluster_tips = 105;
// " Erase free space ..."
constexpr int erasing_free_space = 106;
// " Could not find NtFsControlFile entry point in NTDLL.DLL"
constexpr int no_control_entry_point = 107;
// " Is not a NTFS drive"
constexpr int not_an_ntfs_drive = 108;
// " Could not determine disk cluster size "
constexpr int no_cluster_size = 109;
// " Could not determine amount of free space "
constexpr int no_free_space_amount = 110;
// " Your disk quota prevents you from cleaning free space on this drive"
constexpr int quota_prevents_cleaning = 111;
// " Could not create free-space cleanup file: "
constexpr int no_cleanup_file = 112;
// "Clean Drive"
constexpr int clean_drive = 113;
// "Hide overwritten files"
constexpr int hide_overwritten = 114;
// "Hide temporary files"
constexpr int hide_temporary = 115;

// The fields of a file, in order: the sort choices are field_none.. and the list's
// column headers field_filename..; callers add the column to the first.
static_assert(field_date_modified - field_none == 6);

}  // namespace fennick::messages
