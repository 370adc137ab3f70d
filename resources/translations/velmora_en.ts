<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="WINDOW_TOP_TITLE">
        <source>Velmora Data Recovery</source>
        <translation>Velmora Data Recovery</translation>
    </message>
    <message id="MENU_WINDOW">
        <source>Window</source>
        <translation>Window</translation>
    </message>
    <message id="MENU_HELP">
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message id="MENU_ABOUT_NAME">
        <source>About %@</source>
        <translation>About %@</translation>
    </message>
    <message id="MENU_CHECK_UPDTE">
        <source>Check for Updates...</source>
        <translation>Check for Updates...</translation>
    </message>
    <message id="MENU_PARTICIPATE">
        <source>Send Anonymous Usage Statistics</source>
        <translation>Send Anonymous Usage Statistics</translation>
    </message>
    <message id="MENU_HIDEN_SELF">
        <source>Hide Velmora</source>
        <translation>Hide Velmora</translation>
    </message>
    <message id="MENU_HIDEN_OTHER">
        <source>Hide Others</source>
        <translation>Hide Others</translation>
    </message>
    <message id="MENU_SHOW_ALL">
        <source>Show All</source>
        <translation>Show All</translation>
    </message>
    <message id="MENU_EXIT">
        <source>Quit Velmora</source>
        <translation>Quit Velmora</translation>
    </message>
    <message id="MENU_MAXIMIZE">
        <source>Zoom</source>
        <translation>Zoom</translation>
    </message>
    <message id="MENU_MINIMIZE">
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message id="MENU_ONLINE_HELP">
        <source>Online Help</source>
        <translation>Online Help</translation>
    </message>
    <message id="MENU_SUPPORT_CENTER">
        <source>Support Center</source>
        <translation>Support Center</translation>
    </message>
    <message id="COMM_BACK_BUTTON">
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message id="DEVICE_NAME_UNTITILED">
        <source>Untitled</source>
        <translation>Untitled</translation>
    </message>
    <message id="USB Bus">
        <source>USB Bus</source>
        <translation>USB Bus</translation>
    </message>
    <message id="USB 2.0 Bus">
        <source>USB 2.0 Bus</source>
        <translation>USB 2.0 Bus</translation>
    </message>
    <message id="PLX_TWO_CONTINUE_BUTTON">
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message id="PLX_TWO_IMPORT_BUTTON_TIP">
        <source>Load a saved scan result</source>
        <translation>Load a saved scan result</translation>
    </message>
    <message id="PLX_THREE_SCAN_BUTTON">
        <source>Scan</source>
        <translation>Scan</translation>
    </message>
    <message id="PLX_THREE_LOOKING_FOR_DISKS">
        <source>Looking for disks…</source>
        <translation>Looking for disks…</translation>
    </message>
    <message id="PLX_THREE_TABLEVIEW_DRIVES">
        <source>Drives</source>
        <translation>Drives</translation>
    </message>
    <message id="PLX_THREE_TABLEVIEW_SIZE">
        <source>Size</source>
        <translation>Size</translation>
    </message>
    <message id="PLX_THREE_TABLEVIEW_FILESYSTEM">
        <source>File System</source>
        <translation>File System</translation>
    </message>
    <message id="PLX_FOUR_TABLEVIEW_NAME">
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message id="PLX_FOUR_TABLEVIEW_SIZE">
        <source>Size</source>
        <translation>Size</translation>
    </message>
    <message id="PLX_FOUR_TABLEVIEW_PATH">
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message id="PLX_FOUR_TABLEVIEW_CREATED">
        <source>Created</source>
        <translation>Created</translation>
    </message>
    <message id="PLX_FOUR_SELECT_TYPE_BUTTON_TYPE">
        <source>File Type</source>
        <translation>File Type</translation>
    </message>
    <message id="PLX_FOUR_SELECT_TYPE_BUTTON_PATH">
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message id="PLX_FOUR_SELECT_TYPE_BUTTON_TIME">
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message id="PLX_FOUR_SELECT_TYPE_BUTTON_CREATED">
        <source>Created</source>
        <translation>Created</translation>
    </message>
    <message id="PLX_FOUR_SELECT_TYPE_BUTTON_MODIFIED">
        <source>Modified</source>
        <translation>Modified</translation>
    </message>
    <message id="PLX_FOUR_NO_VALUE_NOTE">
        <source>No files found here.</source>
        <translation>No files found here.</translation>
    </message>
    <message id="PLX_FOUR_ALL_FILES">
        <source>Found %@ in %d file(s).</source>
        <translation>Found %@ in %d file(s).</translation>
    </message>
    <message id="PLX_FOUR_ALL_FILES_SIZE">
        <source>Found %@ in %d file(s) so far.</source>
        <translation>Found %@ in %d file(s) so far.</translation>
    </message>
    <message id="PLX_FOUR_SELECT_FILES">
        <source>You have selected %@ in %d file(s).</source>
        <translation>You have selected %@ in %d file(s).</translation>
    </message>
    <message id="PLX_FOUR_FILESFOUND">
        <source>Files found: %@</source>
        <translation>Files found: %@</translation>
    </message>
    <message id="PLX_FOUR_REMAININGTIME">
        <source>Remaining time: %@</source>
        <translation>Remaining time: %@</translation>
    </message>
    <message id="PLX_FOUR_DEEPSCAN_NODE">
        <source>Not what you were looking for? Try a Deep Scan.</source>
        <translation>Not what you were looking for? Try a Deep Scan.</translation>
    </message>
    <message id="PLX_FOUR_SAVE_BUTTON_TIP">
        <source>Save the scan result</source>
        <translation>Save the scan result</translation>
    </message>
    <message id="PLX_FOUR_SCAN_STOP_TITLE">
        <source>Stop the scan?</source>
        <translation>Stop the scan?</translation>
    </message>
    <message id="PLX_FOUR_SCAN_STOP_NODE">
        <source>The files found so far stay in the list.</source>
        <translation>The files found so far stay in the list.</translation>
    </message>
    <message id="PLX_FOUR_SCAN_STOP_YES_BUTTON">
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message id="PLX_FOUR_SCAN_STOP_NO_BUTTON">
        <source>Continue Scanning</source>
        <translation>Continue Scanning</translation>
    </message>
    <message id="PLX_FOUR_SCAN_BACKHOME_TITLE">
        <source>Go back home?</source>
        <translation>Go back home?</translation>
    </message>
    <message id="PLX_FOUR_SCAN_BACKHOME_NODE">
        <source>The scan result will be discarded.</source>
        <translation>The scan result will be discarded.</translation>
    </message>
    <message id="PLX_FOUR_SCAN_BACKHOME_YES_BUTTON">
        <source>Go Back</source>
        <translation>Go Back</translation>
    </message>
    <message id="PLX_FOUR_SCAN_BACKHOME_NO_BUTTON">
        <source>Stay</source>
        <translation>Stay</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NODE">
        <source>Choose a folder for the recovered files.</source>
        <translation>Choose a folder for the recovered files.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_WINDOW_SAVE_BUTTON">
        <source>Recover</source>
        <translation>Recover</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_COMPETENCE_TITLE">
        <source>The chosen folder cannot be written.</source>
        <translation>The chosen folder cannot be written.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_COMPETENCE_NODE">
        <source>Please choose another folder.</source>
        <translation>Please choose another folder.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_COMPETENCE_YES_BUTTON">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="PLX_FOUR_SAVE_SAME_PATH_TITLE">
        <source>The folder is on the disk being recovered.</source>
        <translation>The folder is on the disk being recovered.</translation>
    </message>
    <message id="PLX_FOUR_SAVE_SAME_PATH_NODE">
        <source>Velmora does not recover onto the disk it recovers from: writing there can overwrite the files you want back. Please choose a folder on another disk.</source>
        <translation>Velmora does not recover onto the disk it recovers from: writing there can overwrite the files you want back. Please choose a folder on another disk.</translation>
    </message>
    <message id="PLX_FOUR_SAVE_SAME_PATH_YES_BUTTON">
        <source>Choose Another Folder</source>
        <translation>Choose Another Folder</translation>
    </message>
    <message id="PLX_FOUR_SAVE_SAME_PATH_NO_BUTTON">
        <source>Recover Anyway</source>
        <translation>Recover Anyway</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_SPACE_TITLE">
        <source>Not enough free space.</source>
        <translation>Not enough free space.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_SPACE_NODE">
        <source>The chosen folder may not have room for the selected files. Free some space, then continue.</source>
        <translation>The chosen folder may not have room for the selected files. Free some space, then continue.</translation>
    </message>
    <message id="RECOVERY_FOLDER_NOT_OPENED_TITLE">
        <source>The folder could not be opened.</source>
        <translation>The folder could not be opened.</translation>
    </message>
    <message id="RECOVERY_FOLDER_NOT_OPENED_NODE">
        <source>No program to open folders was found (xdg-open and a file manager). The recovered files are in %@</source>
        <translation>No program to open folders was found (xdg-open and a file manager). The recovered files are in %@</translation>
    </message>
    <message id="RECOVERY_FOLDER_NOT_OPENED_YES_BUTTON">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_DETAIL">
        <source>%d file(s) · time left %@</source>
        <translation>%d file(s) · time left %@</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_SPACE_SIZES">
        <source>The selected files take %@; the folder's disk has %@ free.</source>
        <translation>The selected files take %@; the folder's disk has %@ free.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_SPACE_YES_BUTTON">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_NO_SPACE_NO_BUTTON">
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message id="PLX_FOUR_RECOVER_PROGRESS_TITLE">
        <source>Recovering files...</source>
        <translation>Recovering files...</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_STOP_TITLE">
        <source>Stop the recovery?</source>
        <translation>Stop the recovery?</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_STOP_NODE">
        <source>Files already recovered are kept.</source>
        <translation>Files already recovered are kept.</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_STOP_YES_BUTTON">
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_STOP_NO_BUTTON">
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message id="PLX_FOUR_RECOVERY_STOP_BUTTON">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="PLX_FOUR_RECOVER_END_TITLE">
        <source>Recovery finished</source>
        <translation>Recovery finished</translation>
    </message>
    <message id="PLX_FOUR_RECOVER_END_NODE">
        <source>The recovered files are in the folder you chose.</source>
        <translation>The recovered files are in the folder you chose.</translation>
    </message>
    <message id="PLX_FOUR_RECOVER_NOTEND_NODE">
        <source>The recovery was stopped after %.0f file(s).</source>
        <translation>The recovery was stopped after %.0f file(s).</translation>
    </message>
    <message id="OUTPUT_NOT_CHOSEN">
        <source>No folder was chosen.</source>
        <translation>No folder was chosen.</translation>
    </message>
    <message id="OUTPUT_NO_PARENT">
        <source>This folder cannot be reached. It may have been removed, or the disk that holds it is no longer attached.</source>
        <translation>This folder cannot be reached. It may have been removed, or the disk that holds it is no longer attached.</translation>
    </message>
    <message id="OUTPUT_NOT_A_FOLDER">
        <source>The place you chose is not a folder.</source>
        <translation>The place you chose is not a folder.</translation>
    </message>
    <message id="OUTPUT_NO_PERMISSION">
        <source>You are not allowed to write in this folder. Please choose a folder of your own, such as one in your home folder.</source>
        <translation>You are not allowed to write in this folder. Please choose a folder of your own, such as one in your home folder.</translation>
    </message>
    <message id="OUTPUT_FOREIGN_LINK">
        <source>The path to this folder passes through a link that belongs to another user, so nothing is written there.</source>
        <translation>The path to this folder passes through a link that belongs to another user, so nothing is written there.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_DEVICE">
        <source>This folder is on the disk being scanned. Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned. Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_ENCRYPTED">
        <source>This folder is on the disk being scanned (through an encrypted volume). Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned (through an encrypted volume). Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_LVM">
        <source>This folder is on the disk being scanned (through an LVM volume). Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned (through an LVM volume). Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_RAID">
        <source>This folder is on the disk being scanned (through a RAID array). Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned (through a RAID array). Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_LOOP">
        <source>This folder is on the disk being scanned (through a disk image stored on it). Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned (through a disk image stored on it). Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="OUTPUT_ON_SCANNED_MAPPED">
        <source>This folder is on the disk being scanned (through a mapped device). Writing there would overwrite the files being recovered; please choose a folder on another disk.</source>
        <translation>This folder is on the disk being scanned (through a mapped device). Writing there would overwrite the files being recovered; please choose a folder on another disk.</translation>
    </message>
    <message id="RECOVERY_NOT_STARTED_TITLE">
        <source>The recovery did not start.</source>
        <translation>The recovery did not start.</translation>
    </message>
    <message id="RECOVERY_NOT_STARTED_NODE">
        <source>Nothing was written. An earlier recovery may still be finishing its last file, or the folder lies on the disk being recovered. Please try again in a moment, or choose a folder on another disk.</source>
        <translation>Nothing was written. An earlier recovery may still be finishing its last file, or the folder lies on the disk being recovered. Please try again in a moment, or choose a folder on another disk.</translation>
    </message>
    <message id="RECOVERY_NOT_STARTED_YES_BUTTON">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="RECOVERY_END_INCOMPLETE_TITLE">
        <source>Some files were not recovered</source>
        <translation>Some files were not recovered</translation>
    </message>
    <message id="RECOVERY_END_INCOMPLETE_NODE">
        <source>%llu of the ticked file(s) could not be recovered. The others are in the folder you chose.</source>
        <translation>%llu of the ticked file(s) could not be recovered. The others are in the folder you chose.</translation>
    </message>
    <message id="RECOVERY_END_INCOMPLETE_LIST">
        <source>The file “%@” in that folder names the missing ones.</source>
        <translation>The file “%@” in that folder names the missing ones.</translation>
    </message>
    <message id="RECOVERY_NOTEND_REFUSED">
        <source>%llu file(s) could not be recovered.</source>
        <translation>%llu file(s) could not be recovered.</translation>
    </message>
    <message id="SAVE_SCAN_RESULT">
        <source>Save Scan Result</source>
        <translation>Save Scan Result</translation>
    </message>
    <message id="LOAD_SCAN_RESULT">
        <source>Load Scan Result</source>
        <translation>Load Scan Result</translation>
    </message>
    <message id="SAVE_RESULT_WAIT">
        <source>Saving the scan result, please wait...</source>
        <translation>Saving the scan result, please wait...</translation>
    </message>
    <message id="LOAD_RESULT_WAIT">
        <source>Loading the scan result, please wait...</source>
        <translation>Loading the scan result, please wait...</translation>
    </message>
    <message id="READ_RSF_FAILED">
        <source>The scan result could not be read.</source>
        <translation>The scan result could not be read.</translation>
    </message>
    <message id="LOAD_RESULT_DAMAGED">
        <source>The scan result file is damaged.</source>
        <translation>The scan result file is damaged.</translation>
    </message>
    <message id="LOAD_RESULT_RECORDS_DROPPED">
        <source>%lld damaged records were left out.</source>
        <translation>%lld damaged records were left out.</translation>
    </message>
    <message id="LOAD_RESULT_CUT_SHORT">
        <source>It could be read only up to the damage.</source>
        <translation>It could be read only up to the damage.</translation>
    </message>
    <message id="LOAD_RESULT_CHECK_FAILED">
        <source>Its contents no longer match the checks saved with them.</source>
        <translation>Its contents no longer match the checks saved with them.</translation>
    </message>
    <message id="LOAD_RESULT_REST_SHOWN">
        <source>Everything else was loaded and is shown.</source>
        <translation>Everything else was loaded and is shown.</translation>
    </message>
    <message id="LOAD_RESULT_NOTHING_LOADED">
        <source>Nothing could be loaded from it.</source>
        <translation>Nothing could be loaded from it.</translation>
    </message>
    <message id="CHANG_DESTINATION">
        <source>Change Destination</source>
        <translation>Change Destination</translation>
    </message>
    <message id="SAVE_CANNOT_WRITE">
        <source>The scan result cannot be saved in this folder.</source>
        <translation>The scan result cannot be saved in this folder.</translation>
    </message>
    <message id="SAVE_SAME_DISK_WARNING">
        <source>The folder is on the disk being scanned.</source>
        <translation>The folder is on the disk being scanned.</translation>
    </message>
    <message id="SAVE_SAME_DISK_PROMPT">
        <source>Saving onto the scanned disk can overwrite lost files. Please choose a folder on another disk.</source>
        <translation>Saving onto the scanned disk can overwrite lost files. Please choose a folder on another disk.</translation>
    </message>
    <message id="SAVE_SCAN_TIP">
        <source>Save the scan result to continue later without scanning again.</source>
        <translation>Save the scan result to continue later without scanning again.</translation>
    </message>
    <message id="PLX_BROWSER_RECOVER_BUTTON">
        <source>Recover</source>
        <translation>Recover</translation>
    </message>
    <message id="PLX_BROWSER_DEEPSCAN_BUTTON">
        <source>Deep Scan</source>
        <translation>Deep Scan</translation>
    </message>
    <message id="PLX_SECOND_START_TITLE">
        <source>Velmora is already running</source>
        <translation>Velmora is already running</translation>
    </message>
    <message id="PLX_SECOND_START_NODE">
        <source>The result file %@ could not be handed to the Velmora window that is running, because it did not answer. Only one Velmora can read your disks at a time: open the file in the running window with Import on its first page.</source>
        <translation>The result file %@ could not be handed to the Velmora window that is running, because it did not answer. Only one Velmora can read your disks at a time: open the file in the running window with Import on its first page.</translation>
    </message>
    <message id="PLX_HANDED_OVER_TITLE">
        <source>The result file was not opened</source>
        <translation>The result file was not opened</translation>
    </message>
    <message id="PLX_HANDED_OVER_SCANNING">
        <source>The result file %@ was not opened because a scan is running. Open it with Import once the scan has ended.</source>
        <translation>The result file %@ was not opened because a scan is running. Open it with Import once the scan has ended.</translation>
    </message>
    <message id="PLX_HANDED_OVER_RECOVERING">
        <source>The result file %@ was not opened because files are being recovered. Open it with Import once the recovery has ended.</source>
        <translation>The result file %@ was not opened because files are being recovered. Open it with Import once the recovery has ended.</translation>
    </message>
    <message id="PLX_HANDED_OVER_WAITING">
        <source>The result file %@ was not opened because Velmora is saving or loading a result, or waits for your answer in another window. Open it with Import when that is done.</source>
        <translation>The result file %@ was not opened because Velmora is saving or loading a result, or waits for your answer in another window. Open it with Import when that is done.</translation>
    </message>
    <message id="PLX_HANDED_OVER_SHOWING">
        <source>The result file %@ was not opened because a scan result is on show, and it would take its place. Go back to the first page and open it with Import.</source>
        <translation>The result file %@ was not opened because a scan result is on show, and it would take its place. Go back to the first page and open it with Import.</translation>
    </message>
    <message id="PLX_SAVE_OFFER_TITLE">
        <source>Save the scan result before leaving?</source>
        <translation>Save the scan result before leaving?</translation>
    </message>
    <message id="PLX_SAVE_OFFER_SAVE_BUTTON">
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message id="PLX_SAVE_OFFER_STAY_BUTTON">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message id="PLX_SAVE_OFFER_LEAVE_BUTTON">
        <source>Don't Save</source>
        <translation>Don't Save</translation>
    </message>
    <message id="SEARCH_MENU">
        <source>Search</source>
        <translation>Search</translation>
    </message>
    <message id="RECENT_SEARCH">
        <source>Recent Searches</source>
        <translation>Recent Searches</translation>
    </message>
    <message id="NO_RECENT_SEARCH">
        <source>No Recent Searches</source>
        <translation>No Recent Searches</translation>
    </message>
    <message id="RECENTS">
        <source>Recents</source>
        <translation>Recents</translation>
    </message>
    <message id="CLEAR">
        <source>Clear Recent Searches</source>
        <translation>Clear Recent Searches</translation>
    </message>
    <message id="PLX_UPDATE_CHECKING">
        <source>Checking for a newer version...</source>
        <translation>Checking for a newer version...</translation>
    </message>
    <message id="PLX_UPDATE_NO_NETWORK">
        <source>The update service cannot be reached. Check the network connection and try again later.</source>
        <translation>The update service cannot be reached. Check the network connection and try again later.</translation>
    </message>
    <message id="PLX_UPDATE_NO_UPDATE">
        <source>You are using the newest version of Velmora.</source>
        <translation>You are using the newest version of Velmora.</translation>
    </message>
    <message id="PLX_UPDATE_RELEASED">
        <source>Velmora %@ has been released.</source>
        <translation>Velmora %@ has been released.</translation>
    </message>
    <message id="PLX_UPDATE_NEW_FEATURES">
        <source>New features of Version %@:</source>
        <translation>New features of Version %@:</translation>
    </message>
    <message id="PLX_UPDATE_DOWNLOAD">
        <source>Download the new version</source>
        <translation>Download the new version</translation>
    </message>
    <message id="PLX_UPDATE_CLOSE">
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message id="PLX_TWO_ALL_TYPES">
        <source>All file types</source>
        <translation>All file types</translation>
    </message>
    <message id="VIEW_MODE_LIST">
        <source>List</source>
        <translation>List</translation>
    </message>
    <message id="VIEW_MODE_GRID">
        <source>Grid</source>
        <translation>Grid</translation>
    </message>
    <message id="VIEW_MODE_COVER_FLOW">
        <source>Cover Flow</source>
        <translation>Cover Flow</translation>
    </message>
    <message id="PLX_TWO_CATEGORIES_TITLE">
        <source>Look for these kinds of file:</source>
        <translation>Look for these kinds of file:</translation>
    </message>
    <message id="PLX_TWO_NEXT_BUTTON">
        <source>Next</source>
        <translation>Next</translation>
    </message>
    <message id="PLX_TWO_DELETED_TITLE">
        <source>Deleted Files Recovery</source>
        <translation>Deleted Files Recovery</translation>
    </message>
    <message id="PLX_TWO_DELETED_NOTE">
        <source>A quick scan for files that were deleted or emptied from the trash.</source>
        <translation>A quick scan for files that were deleted or emptied from the trash.</translation>
    </message>
    <message id="PLX_TWO_FORMATTED_TITLE">
        <source>Formatted Drive Recovery</source>
        <translation>Formatted Drive Recovery</translation>
    </message>
    <message id="PLX_TWO_FORMATTED_NOTE">
        <source>A quick scan of a drive or partition that was formatted.</source>
        <translation>A quick scan of a drive or partition that was formatted.</translation>
    </message>
    <message id="PLX_TWO_DEEP_TITLE">
        <source>Deep Scan</source>
        <translation>Deep Scan</translation>
    </message>
    <message id="PLX_TWO_DEEP_NOTE">
        <source>Searches the whole drive, sector by sector, for every file it can find. Takes longer.</source>
        <translation>Searches the whole drive, sector by sector, for every file it can find. Takes longer.</translation>
    </message>
    <message id="PLX_TWO_DOCUMENT_TITLE">
        <source>Documents</source>
        <translation>Documents</translation>
    </message>
    <message id="PLX_TWO_PICTURE_TITLE">
        <source>Pictures</source>
        <translation>Pictures</translation>
    </message>
    <message id="PLX_TWO_MOVIE_TITLE">
        <source>Movies</source>
        <translation>Movies</translation>
    </message>
    <message id="PLX_TWO_MUSIC_TITLE">
        <source>Music</source>
        <translation>Music</translation>
    </message>
    <message id="PLX_TWO_ARCHIVES_TITLE">
        <source>Archives</source>
        <translation>Archives</translation>
    </message>
    <message id="PLX_TWO_EMAIL_TITLE">
        <source>E-mail</source>
        <translation>E-mail</translation>
    </message>
    <message id="PLX_TWO_OTHER_TITLE">
        <source>Other</source>
        <translation>Other</translation>
    </message>
    <message id="CREATE_TIME_ROOT_NAME">
        <source>Date Created</source>
        <translation>Date Created</translation>
    </message>
    <message id="MODIFY_TIME_ROOT_NAME">
        <source>Date Modified</source>
        <translation>Date Modified</translation>
    </message>
    <message id="LAST_ACCESS_TIME_ROOT_NAME">
        <source>Date Last Opened</source>
        <translation>Date Last Opened</translation>
    </message>
    <message id="PLX_APFS_NOTICE_TITLE">
        <source>This volume cannot be scanned</source>
        <translation>This volume cannot be scanned</translation>
    </message>
    <message id="PLX_APFS_NOTICE_NODE">
        <source>The volume you chose is an APFS volume that cannot be opened for scanning. Choose the disk that holds it, or another volume.</source>
        <translation>The volume you chose is an APFS volume that cannot be opened for scanning. Choose the disk that holds it, or another volume.</translation>
    </message>
    <message id="PLX_APFS_NOTICE_LINK">
        <source>How to scan APFS volumes</source>
        <translation>How to scan APFS volumes</translation>
    </message>
    <message id="PLX_APFS_NOTICE_OK">
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
