// The file list of the results browser: flat custom-drawn headers, an
// empty-state overlay (a background, an arrow and a grey note) while the
// chosen folder has no files, and the space bar as the preview key: it posts
// "SpacePreviewFile" and never reaches the table's own key handling (no
// type-ahead search on a space).
#pragma once

#include <QLabel>
#include <QPointer>
#include <QTableView>
#include <functional>

class VKTableHeaderView;

class VKNSTableView : public QTableView {
    Q_OBJECT

public:
    static constexpr const char* kSpacePreviewFile = "SpacePreviewFile";

    explicit VKNSTableView(QWidget* parent = nullptr);

    VKTableHeaderView* customHeader() const { return header_; }

    // YES (the list has values) hides the overlay, NO shows it.
    void changeNoValue(bool hasValues);
    // The note's text height: taller for the languages whose note wraps.
    float getLableHight() const;
    // Places the note by the table's current size.
    void changeFrame();

    QWidget* noValueView() const { return noValueView_; }
    QWidget* nodeView() const { return nodeView_; }

    // The first of the user's interface languages ("de", "pt-BR"...).
    static void SetInterfaceLanguageSource(std::function<QString()> source);

signals:
    void spacePreviewFile();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect noteFrame() const;

    VKTableHeaderView* header_;
    QPointer<QWidget> noValueView_;
    QPointer<QWidget> nodeView_;
    QPointer<QLabel> background_;
};
