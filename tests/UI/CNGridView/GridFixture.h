// A grid in a scroll area whose clip has exactly the size asked for, fed
// by a data source that records what it was asked and how many views it
// made.
#pragma once

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <memory>
#include <set>
#include <vector>

#include "CNGridView/CNGridView.h"
#include "CNGridView/CNGridViewItem.h"
#include "Widgets/CellNode.h"

struct TestNode : velmora::ui::ICellNode {
    explicit TestNode(QString n = {}, int s = 0) : name_(std::move(n)), state_(s) {}
    QString name() const override { return name_; }
    int state() const override { return state_; }
    int iconKind() const override { return -1; }
    QString name_;
    int state_;
};

class RecordingSource : public CNGridViewDataSource {
public:
    explicit RecordingSource(qint64 count) : count(count) {}
    qint64 numberOfItemsInSection(CNGridView*, qint64) override { return count; }
    CNGridViewItemBase* itemAtIndex(CNGridView* grid, qint64 index, qint64) override {
        asked.push_back(index);
        if (missing.contains(index)) {
            return nullptr;
        }
        auto* item = static_cast<CNGridViewItem*>(
            grid->dequeueReusableItemWithIdentifier(QLatin1String(kCNDefaultItemIdentifier)));
        if (item == nullptr) {
            item = new CNGridViewItem;
            ++created;
        }
        item->setNode(nodeFor(index));
        item->titleLabel()->setText(QStringLiteral("file %1").arg(index));
        return item;
    }
    TestNode* nodeFor(qint64 index) {
        if (nodes.size() <= size_t(index)) {
            nodes.resize(size_t(index) + 1);
        }
        if (!nodes[size_t(index)]) {
            nodes[size_t(index)] = std::make_unique<TestNode>(QString::number(index));
        }
        return nodes[size_t(index)].get();
    }

    qint64 count;
    std::vector<qint64> asked;
    std::set<qint64> missing;  // indexes given no view
    int created = 0;
    std::vector<std::unique_ptr<TestNode>> nodes;
};

// The clip is clipWidth x clipHeight points; the grid is loaded and its
// queued refresh has run.
struct GridInScrollArea {
    GridInScrollArea(int clipWidth, int clipHeight, qint64 count) : source(count) {
        CNGridView::SetAnimationScale(0);
        area.setFrameShape(QFrame::NoFrame);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.resize(clipWidth, clipHeight);
        grid = new CNGridView;
        grid->setDataSource(&source);
        area.setWidget(grid);
        area.show();
        grid->reloadData();
        settle();
    }
    ~GridInScrollArea() { CNGridView::SetAnimationScale(1); }

    static void settle() {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
        }
    }
    void scrollTo(int y) {
        area.verticalScrollBar()->setValue(y);
        settle();
    }
    // Lets the clip go anywhere, even past the last row.
    void makeRoomToScroll(int height) {
        grid->resize(grid->width(), height);
        settle();
    }
    CNGridViewItem* itemAt(qint64 index) const {
        return static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(index));
    }

    RecordingSource source;
    QScrollArea area;
    CNGridView* grid = nullptr;
};
