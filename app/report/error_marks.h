// Code line marks: the fixed "CLM_" names that go with every error report and
// tell the maker where a failure was caught, with the fixed messages that
// accompany some of them. Marks whose message is a component's LastErrMsg
// have no message here.
#pragma once

namespace vidmill::clm {

// Profile catalogue.
inline constexpr char kLoadProfiles[] = "CLM_LoadProfiles";
inline constexpr char kLoadProfilesMsg[] = "Error loading profiles";
inline constexpr char kLoadFormats[] = "CLM_LoadFormats";
inline constexpr char kLoadFormatsMsg[] = "Error loading formats";
inline constexpr char kInitProfiles[] = "CLM_InitProfiles";
inline constexpr char kInitProfilesMsg[] = "Error initialising profiles";

// Start-up and settings.
inline constexpr char kFFAVLibLoad[] = "CLM_FFAVLibLoad";
inline constexpr char kRegDataWrite[] = "CLM_RegDataWrite";
inline constexpr char kRegDataWriteMsg[] = "Error writing data to Registry";

// Conversion list.
inline constexpr char kFFLoadAVLib2[] = "CLM_FFLoadAVLib2";
inline constexpr char kSDlLibLoad[] = "CLM_SDlLibLoad";
inline constexpr char kSDlLibLoadMsg[] = "Error loading SDL library";

// Job assembly.
inline constexpr char kSetCropFilters[] = "CLM_SetCropFilters";
inline constexpr char kFFAddTaskToMerged[] = "CLM_FFAddTaskToMerged";
inline constexpr char kFFAddInputFileToMerged[] = "CLM_FFAddInputFileToMerged";
inline constexpr char kFFAddTaskToMeged[] = "CLM_FFAddTaskToMeged";
inline constexpr char kSetOutputFile[] = "CLM_SetOutputFile";
inline constexpr char kSetOutputFileMsg[] = "Cannot set output file: ";
inline constexpr char kSetOutputFileHint[] =
    "Please choose other output folder or rename output file.";
inline constexpr char kSetOutputFileMerge[] = "CLM_SetOutputFileMerge";
inline constexpr char kSetOutputFileMergeMsg[] = "Cannot set output file (merged): ";

// Progress and completion.
inline constexpr char kTerminate[] = "CLM_Terminate";
inline constexpr char kTerminateMsg[] = "Conversion terminated with error: ";
inline constexpr char kShut[] = "CLM_Shut";
inline constexpr char kShutMsg[] = "Error trying shut down the Windows";

// Profile chooser: "Error on profile %d, format %d choosing" and
// "Error Drawing Cell: profile %d, format %d".
inline constexpr char kProfileChoosing[] = "CLM_ProfileChoosing";
inline constexpr char kFormatsDrawCell[] = "CLM_FormatsDrawCell";
inline constexpr char kProfileDrawCell[] = "CLM_ProfileDrawCell";

// Settings dialog.
inline constexpr char kSettingProfile[] = "CLM_SettingProfile";
inline constexpr char kSettingProfileMsg[] = "Error setting profile";

// Preview.
inline constexpr char kLoadAVLib[] = "CLM_LoadAVLib";
inline constexpr char kFFPlayerOpen[] = "CLM_FFPlayerOpen";

// File information.
inline constexpr char kProbeLoadFile[] = "CLM_ProbeLoadFile";
inline constexpr char kProbeLoadFileMsg[] = "The information for this media is unavailable.";
inline constexpr char kWriteFileInfo[] = "CLM_WriteFileInfo";
inline constexpr char kWriteFileInfoMsg[] = "Error writing file info";

// Trim dialog and crop and adjust dialog.
inline constexpr char kFFPlayer1LoadAVLib[] = "CLM_FFPlayer1LoadAVLib";
inline constexpr char kFFPlayer1Open[] = "CLM_FFPlayer1Open";
inline constexpr char kFFPlayer2LoadAVLib[] = "CLM_FFPlayer2LoadAVLib";
inline constexpr char kFFPlayer2Open[] = "CLM_FFPlayer2Open";
inline constexpr char kSDlLibLoad1[] = "CLM_SDlLibLoad1";
inline constexpr char kSDlLibLoad2[] = "CLM_SDlLibLoad2";
inline constexpr char kPaintCropArea[] = "CLM_PaintCropArea";
inline constexpr char kValuesToCropArea[] = "CLM_ValuesToCropArea";
inline constexpr char kValuesToPreviewArea[] = "CLM_ValuesToPreviewArea";

}  // namespace vidmill::clm
