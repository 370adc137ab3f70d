// What the rest of the bridge shares: posting notifications to the main
// thread, times as text, display paths and the name search (VKUIPublic);
// the engine-facing helpers of nodes, dates, categories and the test for
// another running copy of the program (VKCPPPublic).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "FileNode.h"
#include "Utility/SystemTime.h"

// Seconds since 1970 of an engine time, in unsigned arithmetic: a time
// before 1970 wraps to a very large value, as stored results expect.
uint64_t convertWindowsTimeToUnixTime(_FILETIME time);

// Whether the bytes are UTF-8 (null is not).
bool IsValidUtf8(const char* text);

class VKUIPublic {
public:
    VKUIPublic() = delete;

    // The object every notification of the bridge carries.
    static const void* NotificationObject();
    // Posts the name to the main thread's notification centre; returns at
    // once, from any thread.
    static void NotifyMainThread(const std::string& name);
    // On the main thread: hands the name to its observers now.
    static void NotifyMainThreadCB(const std::string& name);
    // Runs `work` on a background thread, then posts the name; returns at
    // once.
    static void NotifyMainThreadByPostKey(const std::string& name, std::function<void()> work);

    // Long date and short time in the interface language.
    static std::string FormatFileTimeToString(_FILETIME time);
    // Local year and month (1-12); a null pointer is skipped.
    static void GetYear(int* year, int* month, _FILETIME time);

    // 1 when the needle is null or empty; 0 when the text is null or either
    // is not UTF-8; else 1 when the text contains the needle ignoring case.
    static int IsStringInString(const char* needle, const char* text);
    // The results search: see the source.
    static int IsStringInFileNode(const char* needle, IFileNode* node);
    // The same with the Desktop setting ("isSelectDesktopDisk") read by the
    // caller, once for a whole search.
    static int IsStringInFileNode(const char* needle, IFileNode* node, bool desktop);
    static int IsStringInFileNodeVector(const char* needle, const std::vector<IFileNode*>& nodes);
    // "/" + volume name, then "/" + name of each element down to the node;
    // "" for no node.
    static std::string GetPathByFileNode(IFileNode* node);
    // The name prefix of the numbered folder that recovered files of a
    // searcher type go to, dated today ("Fat_Recovered Data2024-05-06_").
    static std::string GetFileSystemStrByType(_tagSearcherType type);
};

// The sort of SortFileNodeVector: times newest first (key 2 creation, 3
// modification, 4 last access), any other key names in reverse byte order.
struct cmpFileNode {
    int key = 0;
    bool operator()(IFileNode* a, IFileNode* b) const;
};

class VKCPPPublic {
public:
    static VKCPPPublic& instance();
    virtual ~VKCPPPublic() = default;

    // Parent links are followed this far at most.
    static constexpr int kMaxRootSteps = 1024;
    // The topmost ancestor (the node itself without parent) as a file-system
    // node; null for no node or when that ancestor is not one.
    IFilesystemNode* GetFileSystemNode(IFileNode* node);
    // The searcher type of the node's root; SEARCHER_NONE without one.
    _tagSearcherType GetNodeSearcheType(IFileNode* node);
    void GetYearMonthByTimeT(int* year, int* month, time_t time);
    void GetYearMonthByFileTime(int* year, int* month, _FILETIME time);
    void SortFileNodeVector(std::vector<IFileNode*>& nodes, int key);

    // The title of a category bit in the interface language; "" for any
    // value that is not a single category.
    std::string FilterTypeToString(unsigned bit);
    // The category whose title the text is; CATEGORY_OTHER for null or any
    // other text.
    unsigned StringToFilterType(const char* text);
    int IsTypeString(const char* text, unsigned bit);
    int IsStringInFileNode(const char* needle, IFileNode* node);

    // 1 when another process of the program runs.
    int IsAppRunning();
    // The same over a /proc-like folder: another process (not `self`) whose
    // whole name equals `name`, ignoring case.
    static int IsAppRunningIn(const std::string& procRoot, const std::string& name, pid_t self);
    // The name the program's processes carry.
    static constexpr const char* kProcessName = "Velmora";

protected:
    VKCPPPublic() = default;
};
