// The results browser's file list over a folder of 100,000 files, offscreen:
// listing the folder (refill and first paint) and sorting it by each column
// (sort and repaint), next to a plain table model in the same run that
// reads the engine nodes straight and sorts pointers with std::stable_sort:
//   file_list [files]
// Names repeat no pattern, a third of the creation times are shared.
#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BridgeSeam/FakeBridge.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileViewModes.h"
#include "Widgets/VKNSTableView.h"
#include "platform/HeapPages.h"
#include "support/TestNode.h"

namespace {

using velmora::browser::FileListPane;

// Cells read from the node with no interface node in between.
class PlainModel : public QAbstractTableModel {
public:
    void setRows(std::vector<IFileNode*> rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    std::vector<IFileNode*>& rows() { return rows_; }
    void reset() {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex& = {}) const override { return static_cast<int>(rows_.size()); }
    int columnCount(const QModelIndex& = {}) const override { return 5; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        IFileNode* node = rows_[index.row()];
        switch (index.column()) {
            case 1:
                return QString::fromUtf8(node->GetFileName());
            case 2:
                return QString::number(node->GetFileSize());
            case 3:
                return QString::fromUtf8(node->GetFileName());
            case 4:
                return QString::number(node->GetCreationTime());
            default:
                return {};
        }
    }

private:
    std::vector<IFileNode*> rows_;
};

double Ms(QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    TestNode folder(1, 0, "DCIM", true);
    folder.ShowNode(1);
    std::vector<std::unique_ptr<TestNode>> nodes;
    std::mt19937_64 random(49);
    std::vector<int> numbers(static_cast<size_t>(files));
    for (int i = 0; i < files; ++i)
        numbers[static_cast<size_t>(i)] = i;
    std::shuffle(numbers.begin(), numbers.end(), random);
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%06d.%s", numbers[static_cast<size_t>(i)],
                      i % 3 == 0 ? "jpg" : (i % 3 == 1 ? "png" : "mov"));
        auto node = std::make_unique<TestNode>(i + 2, 1, name);
        node->size = static_cast<long long>(random() % 50000000);
        node->created =
            i % 3 == 0 ? 132470000000000000LL
                       : 132400000000000000LL + static_cast<long long>(random() % 1000000000000LL);
        node->ShowNode(1);
        folder.AddChild(node.get());
        nodes.push_back(std::move(node));
    }
    const OpNodePtr op = OpNodeData::initWithFileNode(&folder);

    velmora::seam::FakeBridge bridge;
    velmora::seam::SetBridge(&bridge);
    velmora::browser::FileViewModes modes;
    modes.resize(1280, 800);
    modes.show();
    FileListPane* pane = modes.pane();

    PlainModel plain;
    QTableView plainView;
    plainView.setModel(&plain);
    plainView.resize(1280, 800);
    plainView.show();
    QApplication::processEvents();

    std::printf("file_list: %d files\n", files);
    std::printf("%-10s %10s %10s %7s\n", "step", "list ms", "plain ms", "ratio");

    QElapsedTimer timer;
    timer.start();
    pane->selectOutlineListWithOpNodeData(op, 1);
    modes.tableView()->viewport()->repaint();
    const double listMs = Ms(timer);
    timer.restart();
    std::vector<IFileNode*> rows;
    for (IFileNode* child = folder.GetFirstChild(); child != nullptr; child = child->GetNextNode())
        rows.push_back(child);
    plain.setRows(std::move(rows));
    plainView.viewport()->repaint();
    const double plainListMs = Ms(timer);
    std::printf("%-10s %10.1f %10.1f %7.2f\n", "listing", listMs, plainListMs,
                listMs / plainListMs);

    const char* const kNames[] = {"", "Name", "Size", "Path", "Created"};
    for (int column = 1; column <= 4; ++column) {
        timer.restart();
        pane->didClickTableColumn(column);
        modes.tableView()->viewport()->repaint();
        const double sortMs = Ms(timer);
        const bool ascending = pane->isSorted() == 0;  // the flag flipped after the sort
        timer.restart();
        std::vector<IFileNode*>& r = plain.rows();
        auto by = [&](auto key) {
            std::stable_sort(r.begin(), r.end(), [&](IFileNode* a, IFileNode* b) {
                return ascending ? key(a) < key(b) : key(b) < key(a);
            });
        };
        switch (column) {
            case 1:
            case 3:
                by([](IFileNode* n) { return std::string(n->GetFileName()); });
                break;
            case 2:
                by([](IFileNode* n) { return n->GetFileSize(); });
                break;
            default:
                by([](IFileNode* n) { return n->GetCreationTime(); });
                break;
        }
        plain.reset();
        plainView.viewport()->repaint();
        const double plainSortMs = Ms(timer);
        std::printf("%-10s %10.1f %10.1f %7.2f\n", kNames[column], sortMs, plainSortMs,
                    sortMs / plainSortMs);
    }
    velmora::seam::SetBridge(nullptr);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
        it->reset();
    return 0;
}
