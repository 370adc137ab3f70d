// What the browser tests share: small path trees of engine nodes, group
// trees, and a browser on the scripted bridge with scripted sheets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Browser/VKDeletailWindowController.h"
#include "UIPlatform/Modal.h"
#include "Windows/WindowTestSupport.h"
#include "support/TestNode.h"

namespace velmora::browser::testing {

// Engine nodes linked as a scan links them, each shown (only shown nodes
// take tick marks).
class NodeForest {
public:
    TestNode* Add(TestNode* parent, const std::string& name, bool folder) {
        auto node = std::make_unique<TestNode>(nextId_, parent ? parent->GetCurrentNodeID() : 0,
                                               name, folder);
        ++nextId_;
        TestNode* raw = node.get();
        if (parent != nullptr)
            parent->AddChild(raw);
        raw->ShowNode(1);
        nodes_.push_back(std::move(node));
        return raw;
    }
    // The path tree's root for a file-system root node.
    static OpNodePtr Root(TestNode* node) {
        TreeNodeData data;
        data.node = node;
        data.isDirectory = 1;
        data.isFileSystem = 1;
        return OpNodeData::initWithNodeData(data);
    }
    ~NodeForest() {
        // Children first: a node unlinks itself from its parent.
        while (!nodes_.empty())
            nodes_.pop_back();
    }

private:
    long long nextId_ = 1;
    std::vector<std::unique_ptr<TestNode>> nodes_;
};

class BrowserTest : public windows::testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ui::SetAlertPresenter(&alerts);
    }
    void TearDown() override {
        browser.reset();
        WindowTest::TearDown();
        ui::SetAlertPresenter(nullptr);
    }
    VKDeletailWindowController& MakeBrowser() {
        BrowserSeams seams;
        seams.goHome = [this] { ++wentHome; };
        seams.saveScanResult = [this] { return saveAnswer; };
        browser = std::make_unique<VKDeletailWindowController>(seams);
        return *browser;
    }
    // The scan posts that it added nodes.
    static void PostScanValue() {
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("NormalScranValue"),
                                                     QStringLiteral("VKUIPublic"));
    }

    ui::ScriptedAlerts alerts;
    std::unique_ptr<VKDeletailWindowController> browser;
    int wentHome = 0;
    bool saveAnswer = true;
};

}  // namespace velmora::browser::testing
