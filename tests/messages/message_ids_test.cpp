// Tests of the message names: each name reads the English text it was named after, so a
// renumbered catalogue or a mistyped number in message_ids.h shows up here.
#include "messages/message_ids.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "messages/message_catalogue.h"

namespace fennick::messages {
namespace {

struct Named {
  int id;
  std::string_view english;
};

const Named names[] = {
    {language_own_name, "English"},
    {panel_drives, "Drives"},
    {panel_types, "Types"},
    {panel_folders, "Folders"},
    {fast_search, "Fast Search"},
    {main_title_suffix, " -  Main"},
    {version_label, "Version: "},
    {filter_on, "Filter ON"},
    {filter_off, "Filter OFF"},
    {files_label, "Files: "},
    {my_computer, "My Computer"},
    {refresh_list, "Refresh List"},
    {start_scan, "Start Scan"},
    {stop_scan, "Stop Scan"},
    {start_undelete, "Start Undelete"},
    {stop_undelete, "Stop Undelete"},
    {start_wipe, "Start Wipe"},
    {stop_wipe, "Stop Wipe"},
    {filter_button, "Filter"},
    {update_button, "Update"},
    {files_header, "Files"},
    {status_tab, "Status"},
    {preview_tab, "Preview"},
    {undelete_to, "Undelete selected file(s) to:"},
    {open_folder, "Open ..."},
    {sort_by, "Sort By"},
    {field_none, "None"},
    {field_filename, "Filename"},
    {field_path, "Path"},
    {field_status, "Status"},
    {field_size, "Size"},
    {field_date_created, "Date Created"},
    {field_date_modified, "Date Modified"},
    {stop_button, "Stop"},
    {building_list, " Building list. Please wait ... "},
    {recoverable_files, " Files with potentially recoverable content: "},
    {undelete_selected, "Undelete Selected"},
    {wipe_selected, "Wipe Selected"},
    {scan_started, " Scan "},
    {process_interrupted, " Process interrupted"},
    {scan_ended, " End scan "},
    {drive_error, " ERROR: Drive Error"},
    {started_at, " Application was started at "},
    {quality_error, "Error"},
    {quality_compressed, "Compressed"},
    {quality_encrypted, "Encrypted"},
    {quality_overwritten, "Overwritten"},
    {quality_bad, "Bad"},
    {quality_middle, "Middle"},
    {quality_good, "Good"},
    {quality_very_good, "Very Good"},
    {no_drives_to_scan, " No drives to scan"},
    {undelete_started, " Start undelete"},
    {undelete_interrupted, " Undelete process interrupted"},
    {undelete_ended, " End undelete"},
    {no_files_to_undelete, " No files to undelete"},
    {no_files_to_preview, " No files to preview"},
    {confirm_wipe, "Are you sure? Press YES to proceed with wipe."},
    {wipe_interrupted, " Wipe process interrupted"},
    {wipe_ended, " End Wipe"},
    {no_files_to_wipe, " No files to wipe"},
    {admin_mode, " ADMIN MODE"},
    {filter_title_suffix, " -  Filter"},
    {filter_by_name, "All or part of the file name:"},
    {filter_by_date, "When was it modified?"},
    {date_from, "From"},
    {date_to, "To"},
    {modified_date, "Modified Date"},
    {created_date, "Created Date"},
    {filter_by_size, "What size is it?"},
    {size_at_least, "at least"},
    {size_at_most, "at most"},
    {error_prefix, " Error: "},
    {interrupted_prefix, " Process interrupted: "},
    {undeleted_prefix, " Undeleted successfully: "},
    {wiped_prefix, " Wiped successfully: "},
    {no_preview_for_type, "Preview is not available for this type of file"},
    {no_preview_corrupted, "Preview is not available for this file. File is corrupted."},
    {select_all_drives, "Select All Drives"},
    {unselect_all_drives, "UnSelect All Drives"},
    {reverse_drive_selection, "Reverse selection"},
    {menu_undelete_selected, "Undelete selected"},
    {menu_wipe_selected, "Wipe selected"},
    {select_all_files, "Select All Files"},
    {unselect_all_files, "UnSelect All Files"},
    {reverse_file_selection, "Reverse selection"},
    {set_filter, "Set Filter"},
    {cancel_button, "Cancel"},
    {help_button, "Help"},
    {languages_header, "Lng"},
    {keep_folder_structure, "Keep folder structure"},
    {total_file_size, "Total file size: "},
    {clean_title_suffix, " - Clean Disk"},
    {clean_directory_entries, "Directory Entries"},
    {clean_cluster_tips, "Cluster Tips"},
    {clean_free_space, "Free disk space (and Master File Table Records)"},
    {start_clean, "Start Clean"},
    {stop_clean, "Stop Clean"},
    {select_drive, "[Select drive]"},
    {clean_started_at, " Clean Disk module was loaded at "},
    {no_drive_to_clean, " No drive to clean"},
    {no_clean_action, " No action selected"},
    {erasing_directory_entries, " Erase directory entries ..."},
    {clean_ok, " Ok"},
    {clean_finished_with_errors, " Operation have been finished with errors"},
    {erasing_cluster_tips, " Erase cluster tips ..."},
    {erasing_free_space, " Erase free space ..."},
    {no_control_entry_point, " Could not find NtFsControlFile entry point in NTDLL.DLL"},
    {not_an_ntfs_drive, " Is not a NTFS drive"},
    {no_cluster_size, " Could not determine disk cluster size "},
    {no_free_space_amount, " Could not determine amount of free space "},
    {quota_prevents_cleaning,
     " Your disk quota prevents you from cleaning free space on this drive"},
    {no_cleanup_file, " Could not create free-space cleanup file: "},
    {clean_drive, "Clean Drive"},
    {hide_overwritten, "Hide overwritten files"},
    {hide_temporary, "Hide temporary files"},
};

TEST(MessageIds, EachNameReadsTheEnglishTextItIsNamedAfter) {
  std::set<int> seen;
  for (const Named& n : names) {
    SCOPED_TRACE("message " + std::to_string(n.id));
    EXPECT_EQ(get_message(english_base, n.id), n.english);
    EXPECT_TRUE(seen.insert(n.id).second) << "two names for one number";
  }
}

TEST(MessageIds, FieldsAreOneRunInColumnOrder) {
  const int fields[] = {field_none, field_filename,     field_path,         field_status,
                        field_size, field_date_created, field_date_modified};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(fields[k], field_none + k);
}

}  // namespace
}  // namespace fennick::messages
