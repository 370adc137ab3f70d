// A folder of engine nodes listed by the results browser's file pane on
// the scripted bridge: DCIM holding four files (one deleted) and an empty
// sub-folder, with sizes and creation times that order differently.
#pragma once

#include <QHeaderView>
#include <QTest>
#include <QThreadPool>
#include <memory>
#include <string>
#include <vector>

#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileViewModes.h"
#include "Widgets/VKNSTableView.h"
#include "Windows/WindowTestSupport.h"
#include "support/TestNode.h"

namespace velmora::browser::testing {

struct FileSpec {
    std::string name;
    long long size = 0;
    long long created = 0;
    bool dir = false;
    bool deleted = false;
};

// Owns the nodes; children go before their folder.
class NodeFolder {
public:
    explicit NodeFolder(const std::string& name) {
        root_ = std::make_unique<TestNode>(1, 0, name, true);
        root_->ShowNode(1);
    }
    ~NodeFolder() {
        while (!files_.empty())
            files_.pop_back();
    }
    // Listed in the order added.
    void Add(const std::vector<FileSpec>& specs) {
        // A child goes in front of its folder's list: add from the last.
        for (auto it = specs.rbegin(); it != specs.rend(); ++it) {
            auto node = std::make_unique<TestNode>(static_cast<long long>(files_.size()) + 2, 1,
                                                   it->name, it->dir);
            node->size = it->size;
            node->created = it->created;
            node->deleted = it->deleted;
            node->ShowNode(1);
            root_->AddChild(node.get());
            files_.push_back(std::move(node));
        }
    }
    TestNode* root() const { return root_.get(); }
    OpNodePtr op() const { return OpNodeData::initWithFileNode(root_.get()); }

private:
    std::unique_ptr<TestNode> root_;
    std::vector<std::unique_ptr<TestNode>> files_;
};

inline const std::vector<FileSpec>& DcimFiles() {
    static const std::vector<FileSpec> files = {
        {"a.jpg", 300, 50},
        {"b.txt", 1000, 20},
        {"c.doc", 20, 20},
        {"sub", 0, 0, true},
        {"x.png", 500, 70, false, true},
    };
    return files;
}

class FilePaneTest : public windows::testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        folder.Add(DcimFiles());
        modes = std::make_unique<FileViewModes>();
        modes->resize(900, 420);
        modes->setAllDiskArr(&roots);
        roots.push_back(folder.op());
        modes->show();
        pane = modes->pane();
    }
    void TearDown() override {
        // Preview pictures are read on workers through the test's bridge.
        QThreadPool::globalInstance()->waitForDone();
        modes.reset();
        WindowTest::TearDown();
    }

    // Unticks every node of the folder (the scripted bridge keeps no ticks).
    void UntickAll() { folder.root()->SetCheck(CHECK_UNCHECKED); }
    void ChooseFolder() { pane->selectOutlineListWithOpNodeData(folder.op(), 1); }

    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (int row = 0; row < pane->model()->rowCount(); ++row)
            names.push_back(pane->model()->cellText(row, kNameColumn).toStdString());
        return names;
    }
    int RowOf(const std::string& name) const {
        const std::vector<std::string> names = Names();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name)
                return static_cast<int>(i);
        }
        return -1;
    }
    IFileNode* NodeNamed(const std::string& name) const {
        return pane->model()->nodeAt(RowOf(name));
    }
    static void ClickHeader(VKNSTableView* table, int column) {
        QHeaderView* header = table->horizontalHeader();
        // The tick column's box covers its middle and a resize grip its
        // right edge: left of the box there.
        const int x = column == kCheckBoxColumn ? 2 : header->sectionSize(column) / 2;
        const QPoint at(header->sectionViewportPosition(column) + x, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    static void ClickCell(VKNSTableView* table, int row, int column) {
        const QRect cell = table->visualRect(table->model()->index(row, column));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }

    NodeFolder folder{"DCIM"};
    std::vector<OpNodePtr> roots;
    std::unique_ptr<FileViewModes> modes;
    FileListPane* pane = nullptr;
};

}  // namespace velmora::browser::testing
