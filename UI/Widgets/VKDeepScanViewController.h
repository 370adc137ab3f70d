// The small view that offers a deep scan after a quick scan found too
// little: one sentence with the words "Deep Scan" in a font of their own,
// and a close button. The results browser shows it in an attached bubble.
#pragma once

#include <QLabel>
#include <QWidget>

class TCImageButton;

class VKDeepScanViewControllerDelegate {
public:
    virtual ~VKDeepScanViewControllerDelegate() = default;
    // The close button was pressed: the owner hides the bubble.
    virtual void popupViewHidden() {}
};

class VKDeepScanViewController : public QWidget {
    Q_OBJECT

public:
    explicit VKDeepScanViewController(QWidget* parent = nullptr);

    QLabel* deepScanNodeLabel() const { return deepScanNodeLabel_; }
    VKDeepScanViewControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(VKDeepScanViewControllerDelegate* delegate) { delegate_ = delegate; }
    TCImageButton* closeButton() const { return closeButton_; }

    // Builds the sentence from the translation of "PLX_FOUR_DEEPSCAN_NODE".
    void setTextFiled();
    // The label's rich text for a sentence: its first "Deep Scan" set in
    // Helvetica 14, the rest as given (escaped).
    static QString SentenceMarkup(const QString& sentence);

    void closeButtonAction();

private:
    QLabel* deepScanNodeLabel_;
    TCImageButton* closeButton_;
    VKDeepScanViewControllerDelegate* delegate_ = nullptr;
};
