// What a tree cell reads of the result node of its row. The bridge's node
// wrapper implements it; the model hands it out under kCellNodeRole.
#pragma once

#include <QMetaType>
#include <QString>

namespace velmora::ui {

class ICellNode {
public:
    virtual ~ICellNode() = default;
    virtual QString name() const = 0;
    // 0 unticked, 1 partly ticked, 2 ticked.
    virtual int state() const = 0;
    // The icon's kind: the picture "<kind>IconImage"; below 0 no icon.
    virtual int iconKind() const = 0;
};

inline constexpr int kCellNodeRole = 0x0100 + 0x4e0;  // Qt::UserRole + 1248

}  // namespace velmora::ui

Q_DECLARE_METATYPE(velmora::ui::ICellNode*)
