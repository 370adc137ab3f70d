// A scripted source for the browser's result trees: the scan operation's
// roots, folders and indexes as a test adds them, a file-type index that
// files every shown file under one "Other" group, and a date index that
// hands new files over month by month, as the program's indexes do.
#pragma once

#include <time.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "VKUIPublic.h"
#include "VKUITreeData.h"
#include "support/TestNode.h"

namespace velmora::bridgetest {

// Engine time of the first day of a month (UTC), 12:00.
inline long long FileTimeOf(int year, int month) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = 1;
    t.tm_hour = 12;
    return (static_cast<long long>(::timegm(&t)) + 11644473600LL) * 10000000LL;
}

class FakeTreeSource final : public ITreeIndexSource {
public:
    FakeTreeSource() : other_(OpNodeData::makeGroup(OP_TREE_FILE_TYPE, "Other")) {
        other_->setExpandAble(1);
    }
    ~FakeTreeSource() override {
        other_->free();
        // Children first is not needed: a node lets go of its links itself.
        for (auto it = owned_.rbegin(); it != owned_.rend(); ++it)
            delete *it;
    }

    // --- What the scan adds --------------------------------------------
    TestNode* AddRoot(const std::string& name) {
        auto* root = Make(name, true);
        std::lock_guard<std::mutex> hold(mutex_);
        roots_.push_back(root);
        newPath_.push_back(root);
        return root;
    }
    // A folder made and linked now, reported when `report` says so.
    TestNode* AddFolder(TestNode* parent, const std::string& name, bool report = true) {
        auto* folder = Make(name, true);
        if (parent != nullptr)
            parent->AddChild(folder);
        if (report)
            Report(folder);
        return folder;
    }
    void Report(IFileNode* folder) {
        std::lock_guard<std::mutex> hold(mutex_);
        folders_.push_back(folder);
        newPath_.push_back(folder);
    }
    TestNode* AddFile(TestNode* parent, const std::string& name, long long modified = 0,
                      long long created = 0) {
        auto* file = Make(name, false);
        file->modified = modified;
        file->created = created;
        if (parent != nullptr)
            parent->AddChild(file);
        IndexFile(file);
        return file;
    }
    void IndexFile(IFileNode* file) {
        std::lock_guard<std::mutex> hold(mutex_);
        typeMap_[64].push_back(file);
        FileDate(created_, file, file->GetCreationTime());
        FileDate(modified_, file, file->GetModificationTime());
    }
    // Takes a node the test made elsewhere (a real scan's), not owned.
    void AddRootNode(IFileNode* root) {
        std::lock_guard<std::mutex> hold(mutex_);
        roots_.push_back(root);
        newPath_.push_back(root);
    }

    void SetView(int kind) { view_ = kind; }
    // DoSearch waits until Release() while this is set.
    void HoldSearch(bool hold) {
        std::lock_guard<std::mutex> lock(holdMutex_);
        holding_ = hold;
        if (!hold)
            holdCv_.notify_all();
    }
    bool WaitSearchHeld() {
        std::unique_lock<std::mutex> lock(holdMutex_);
        return holdCv_.wait_for(lock, std::chrono::seconds(30), [this] { return inSearch_; });
    }
    // Calls of the tree builders, each with the number of posts queued
    // before it: shows the order of a search's rebuild.
    std::vector<std::pair<std::string, size_t>> Calls() {
        std::lock_guard<std::mutex> hold(mutex_);
        return calls_;
    }
    void CountPostsWith(std::function<size_t()> pending) { pending_ = std::move(pending); }
    OpNodePtr other() const { return other_; }

    // --- ITreeIndexSource -------------------------------------------------
    std::vector<IFileNode*> GetFileSystemNode() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return roots_;
    }
    std::vector<IFileNode*> VKGetNewPathNode() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return std::exchange(newPath_, {});
    }
    std::vector<IFileNode*> VKGetAllPathNode() override {
        std::lock_guard<std::mutex> hold(mutex_);
        std::vector<IFileNode*> all = roots_;
        all.insert(all.end(), folders_.begin(), folders_.end());
        return all;
    }
    int FindRemoveData(IFileNode* node) override { return node != nullptr ? 1 : 0; }
    void SetOpTreeFinished(int finished) override {
        if (finished == 0)
            Call("path");
        finished_ = finished;
    }
    int GetScanType() override { return view_; }
    void DoSearch(std::vector<IFileNode*>& hits) override {
        {
            std::unique_lock<std::mutex> lock(holdMutex_);
            inSearch_ = true;
            holdCv_.notify_all();
            holdCv_.wait(lock, [this] { return !holding_; });
            inSearch_ = false;
        }
        hits.clear();
        const std::string key = GetSearchKey();
        for (const auto& [category, nodes] : GetTypeMap()) {
            for (IFileNode* node : nodes) {
                const int match = VKCPPPublic::instance().IsStringInFileNode(key.c_str(), node);
                node->ShowNode(match);
                if (match && !node->IsDirectory())
                    hits.push_back(node);
            }
        }
    }
    int IsSearching() override { return searching_; }
    void SetSearching(int searching) override { searching_ = searching; }
    void SetSearchKey(const std::string& key) override {
        std::lock_guard<std::mutex> hold(mutex_);
        key_ = key;
    }
    std::string GetSearchKey() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return key_;
    }
    void SetNeedUIUpdate(int) override {}
    TypeIndexMap GetTypeMap() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return typeMap_;
    }
    DateIndexMap GetCreateTimeMap() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return created_;
    }
    DateIndexMap GetModifyTimeMap() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return modified_;
    }
    void UnselectAllNodes() override {
        for (IFileNode* root : GetFileSystemNode())
            root->SetCheck(CHECK_UNCHECKED);
    }
    std::vector<OpNodePtr> TypeRootNodes() override { return {other_}; }
    void RefreshTypeTree() override {
        Call("type");
        TypeIndexMap index = GetTypeMap();
        const std::vector<IFileNode*>& files = index[64];
        for (; typeNext_ < files.size(); ++typeNext_) {
            if (files[typeNext_]->IsNodeShow())
                other_->addChildObject(files[typeNext_]);
        }
    }
    void TypeSetSearch(int) override {
        typeNext_ = 0;
        other_->setSubNode({});
    }
    void TypeSetNeedRefreshTree() override { typeNeedRefresh_ = 1; }
    int TypeIsOtherNode(const OpNodeData* node) override { return node == other_.get(); }
    void TypeSetNodeState(OpNodeData*) override {}
    void RefreshTypeTreeState() override {}
    void RefreshTimeTree(OpNodeData* root, int kind,
                         const std::function<void(IFileNode*, OpNodeData*)>& file) override {
        Call(kind == OP_TREE_CREATION_DATE ? "created" : "modified");
        const DateIndexMap index =
            kind == OP_TREE_CREATION_DATE ? GetCreateTimeMap() : GetModifyTimeMap();
        for (const auto& [year, months] : index) {
            for (const auto& [month, nodes] : months) {
                size_t& next = dateNext_[{kind, year, month}];
                for (; next < nodes.size(); ++next) {
                    if (nodes[next]->IsNodeShow())
                        file(nodes[next], root);
                }
            }
        }
    }
    void TimeSetSearch(int) override { dateNext_.clear(); }
    void TimeSetNeedRefreshTree() override { timeNeedRefresh_ = 1; }
    int TimeGetNeedRefreshTree() override { return timeNeedRefresh_; }
    void TimeResetNeedRefreshTree() override { timeNeedRefresh_ = 0; }

    std::atomic<int> finished_{1};
    std::atomic<int> timeNeedRefresh_{0};
    std::atomic<int> typeNeedRefresh_{0};

private:
    TestNode* Make(const std::string& name, bool dir) {
        auto* node = new TestNode(nextId_++, -1, name, dir);
        std::lock_guard<std::mutex> hold(mutex_);
        owned_.push_back(node);
        return node;
    }
    static void FileDate(DateIndexMap& index, IFileNode* file, long long time) {
        if (time == 0)
            return;
        int year = 0, month = 0;
        VKCPPPublic::instance().GetYearMonthByFileTime(&year, &month,
                                                       U64ToFileTime(static_cast<uint64_t>(time)));
        index[year][month].push_back(file);
    }
    void Call(const std::string& what) {
        const size_t posts = pending_ ? pending_() : 0;
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.emplace_back(what, posts);
    }

    std::mutex mutex_;
    std::vector<TestNode*> owned_;
    std::atomic<long long> nextId_{100};
    std::vector<IFileNode*> roots_, newPath_, folders_;
    TypeIndexMap typeMap_;
    DateIndexMap created_, modified_;
    std::string key_;
    std::atomic<int> view_{OP_TREE_PATH};
    std::atomic<int> searching_{0};
    OpNodePtr other_;
    size_t typeNext_ = 0;
    std::map<std::tuple<int, int, int>, size_t> dateNext_;
    std::vector<std::pair<std::string, size_t>> calls_;
    std::function<size_t()> pending_;
    std::mutex holdMutex_;
    std::condition_variable holdCv_;
    bool holding_ = false;
    bool inSearch_ = false;
};

}  // namespace velmora::bridgetest
