// The results browser's path tree while a scan adds nodes, offscreen:
//   browser_tree [nodes] [folder size]
// 1. Stall: a worker links `nodes` engine nodes (default 1,000,000: folders
//    of 100 files under folders of folders) under the bridge's tree lock in
//    batches and posts "NormalScranValue" every 100 ms; the browser shows the
//    path tree with its root expanded and takes the nodes over on each post.
//    A 5 ms timer on the main thread measures the longest gap between its
//    ticks. Peer, in the same run: the same worker with an idle main loop
//    (what the machine and the lock cost on their own).
// 2. Expansion: a folder of `folder size` (default 100,000) files, then one
//    of as many folders, expanded in the tree; peer: a QTreeView over a
//    QStandardItemModel holding as many rows, expanded the same way.
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "BridgeSeam/FakeBridge.h"
#include "Browser/CommOutlineView.h"
#include "Browser/VKDeletailWindowController.h"
#include "UIPlatform/NotificationCenter.h"
#include "UIPlatform/Timing.h"
#include "platform/HeapPages.h"
#include "support/TestNode.h"

namespace {

using velmora::browser::CommOutlineView;
using velmora::browser::VKDeletailWindowController;

struct Forest {
    std::vector<std::unique_ptr<TestNode>> nodes;
    long long nextId = 1;
    TestNode* Add(TestNode* parent, bool folder) {
        auto node =
            std::make_unique<TestNode>(nextId, parent ? parent->GetCurrentNodeID() : 0,
                                       (folder ? "d" : "f") + std::to_string(nextId), folder);
        ++nextId;
        TestNode* raw = node.get();
        if (parent)
            parent->AddChild(raw);
        raw->ShowNode(1);
        nodes.push_back(std::move(node));
        return raw;
    }
    ~Forest() {
        while (!nodes.empty())
            nodes.pop_back();
    }
};

OpNodePtr RootOf(TestNode* node) {
    TreeNodeData data;
    data.node = node;
    data.isDirectory = 1;
    data.isFileSystem = 1;
    return OpNodeData::initWithNodeData(data);
}

// Runs the main loop while a worker adds `count` nodes; the longest gap
// between the probe's ticks, in ms.
double LongestStall(velmora::seam::FakeBridge& bridge, Forest& forest, TestNode* root,
                    long long count) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        QElapsedTimer sincePost;
        sincePost.start();
        long long made = 0;
        std::vector<TestNode*> folders{root};
        while (made < count) {
            {
                auto lock = bridge.LockTreeData();
                // A folder of folders every so often, files into the newest.
                for (int i = 0; i < 2000 && made < count; ++i, ++made) {
                    if (made % 101 == 0)
                        folders.push_back(forest.Add(folders[folders.size() / 2], true));
                    else
                        forest.Add(folders.back(), false);
                }
            }
            if (sincePost.elapsed() >= 100) {
                sincePost.restart();
                velmora::ui::NotificationCenter::defaultCenter().postOnMainThread(
                    QStringLiteral("NormalScranValue"));
            }
            std::this_thread::yield();
        }
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.elapsed();
    double longest = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, static_cast<double>(now - last));
        last = now;
    });
    probe.start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    // The last post after the end.
    velmora::ui::NotificationCenter::defaultCenter().post(QStringLiteral("NormalScranValue"));
    QCoreApplication::processEvents();
    return longest;
}

double ExpandOurs(velmora::seam::FakeBridge&, int size, bool folders) {
    Forest forest;
    TestNode* fs = forest.Add(nullptr, true);
    TestNode* big = forest.Add(fs, true);
    forest.Add(big, true);  // so that it has an expander either way
    for (int i = 0; i < size; ++i)
        forest.Add(big, folders);
    std::vector<OpNodePtr> roots{RootOf(fs)};
    CommOutlineView view;
    view.resize(223, 440);
    view.show();
    view.loadDataFormDetail(&roots, OP_TREE_PATH);
    view.expand(view.treeModel()->rootIndex(0));
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    view.expand(view.treeModel()->index(0, 0, view.treeModel()->rootIndex(0)));
    view.repaint();
    QCoreApplication::processEvents();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double ExpandPeer(int size) {
    QStandardItemModel model;
    auto* root = new QStandardItem(QStringLiteral("DATA"));
    auto* big = new QStandardItem(QStringLiteral("big"));
    root->appendRow(big);
    for (int i = 0; i < size; ++i)
        big->appendRow(new QStandardItem(QStringLiteral("d%1").arg(i)));
    model.appendRow(root);
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(223, 440);
    view.show();
    view.expand(root->index());
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    view.expand(big->index());
    view.repaint();
    QCoreApplication::processEvents();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    velmora::ui::SetDurationScale(0);
    const long long nodes = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
    const int folderSize = argc > 2 ? std::atoi(argv[2]) : 100'000;

    velmora::seam::FakeBridge bridge;
    velmora::seam::SetBridge(&bridge);

    double peerStall = 0;
    {
        Forest forest;
        TestNode* root = forest.Add(nullptr, true);
        peerStall = LongestStall(bridge, forest, root, nodes);
    }
    double ourStall = 0;
    size_t rows = 0;
    {
        Forest forest;
        TestNode* root = forest.Add(nullptr, true);
        forest.Add(root, true);
        auto browser = std::make_unique<VKDeletailWindowController>();
        browser->window()->show();
        browser->getData();
        browser->rootArray(OP_TREE_PATH).push_back(RootOf(root));
        bridge.SetScanStatus(2);
        velmora::ui::NotificationCenter::defaultCenter().post(QStringLiteral("NormalScranValue"));
        CommOutlineView* tree = browser->outline(OP_TREE_PATH);
        tree->expand(tree->treeModel()->rootIndex(0));
        ourStall = LongestStall(bridge, forest, root, nodes);
        rows = tree->treeModel()->madeRows();
        browser.reset();
    }
    std::printf("nodes arriving: %lld\n", nodes);
    std::printf(
        "  longest main-thread stall: browser %.1f ms, idle loop %.1f ms, ratio %.2f "
        "(goal: under 100 ms)\n",
        ourStall, peerStall, peerStall > 0 ? ourStall / peerStall : 0.0);
    std::printf("  tree rows made: %zu\n", rows);

    const double filesMs = ExpandOurs(bridge, folderSize, false);
    const double foldersMs = ExpandOurs(bridge, folderSize, true);
    const double peerMs = ExpandPeer(folderSize);
    std::printf("expanding a folder of %d files: %.1f ms (goal: under 200 ms)\n", folderSize,
                filesMs);
    std::printf(
        "expanding a folder of %d folders: %.1f ms; QStandardItemModel peer %.1f ms, "
        "ratio %.2f\n",
        folderSize, foldersMs, peerMs, peerMs > 0 ? foldersMs / peerMs : 0.0);
    velmora::seam::SetBridge(nullptr);
    return 0;
}
