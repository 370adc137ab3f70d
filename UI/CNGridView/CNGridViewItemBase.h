// The generic cell of the thumbnail grid: its index, reuse identifier,
// selected and hovered states and whatever its owner attaches, with reuse
// support. A deselect-all posted by any grid clears every item's selection.
#pragma once

#include <QSize>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <limits>

inline constexpr qint64 CNNotFound = std::numeric_limits<qint64>::max();
inline constexpr const char* kCNDefaultItemIdentifier = "CNGridViewItem";

class CNGridViewItemBase : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double alphaValue READ alphaValue WRITE setAlphaValue)

public:
    explicit CNGridViewItemBase(QWidget* parent = nullptr);

    static QSize defaultItemSize() { return {150, 150}; }

    bool selected() const { return selected_; }
    virtual void setSelected(bool selected) { selected_ = selected; }
    bool selectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    bool hovered() const { return hovered_; }
    virtual void setHovered(bool hovered) { hovered_ = hovered; }
    QString reuseIdentifier() const { return reuseIdentifier_; }
    void setReuseIdentifier(const QString& identifier) { reuseIdentifier_ = identifier; }
    qint64 index() const { return index_; }
    void setIndex(qint64 index) { index_ = index; }
    QVariant representedObject() const { return representedObject_; }
    void setRepresentedObject(const QVariant& object) { representedObject_ = object; }

    // Opacity of the whole item with its children (the fade-in of new
    // items); 1 draws it plainly.
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);

    virtual void prepareForReuse();
    bool isReuseable() const { return !selected_; }

private:
    bool selected_ = false;
    bool selectable_ = true;
    bool hovered_ = false;
    QString reuseIdentifier_;
    qint64 index_ = CNNotFound;
    QVariant representedObject_;
    double alpha_ = 1.0;
};
