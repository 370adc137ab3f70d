// The first page of the wizard: the scan mode (three large picture buttons,
// the first pressed when the page opens) and the set of file categories
// with its all-types box. The page never talks to the bridge: its delegate,
// the main window, keeps the categories and turns the mode into a scan kind.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

class PLXCustemButton;
#include <QAbstractButton>
class QPushButton;
#include "TopView/TCImageButton.h"

namespace velmora::windows {

class VKSelectTypeViewControllerDelegate {
public:
    virtual ~VKSelectTypeViewControllerDelegate() = default;
    // Every call does nothing unless the delegate overrides it.
    virtual void nextButtonActionWithAllTypeArr(QStringList*) {}
    virtual void selectTypesContinouButtonClick() {}
    virtual void changeScanTypeWithNum(int) {}
    virtual void isSelectOffice(int) {}
    virtual void importButtonAction() {}
};

class VKSelectTypeViewController : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 916;
    static constexpr int kHeight = 520;

    explicit VKSelectTypeViewController(QWidget* parent = nullptr);
    ~VKSelectTypeViewController() override;

    void setDelegate(VKSelectTypeViewControllerDelegate* delegate) { delegate_ = delegate; }
    int selectAllCount() const { return selectAllCount_; }
    void setSelectAllCount(int count) { selectAllCount_ = count; }
    // The chosen categories, "1" to "64" (the decimal text of each bit).
    QStringList& selectArr() { return selectArr_; }
    const QList<PLXCustemButton*>& allTypeButton() const { return allTypeButton_; }

    QPushButton* alltypesButton() const { return alltypesButton_; }
    // The picture name the all-types box shows.
    QString alltypesImage() const { return alltypesImage_; }
    // The two radio buttons are the layout's choice; this page has none.
    QAbstractButton* quickButton() const { return quickButton_; }
    QAbstractButton* advancedButton() const { return advancedButton_; }
    void setRadioButtons(QAbstractButton* quick, QAbstractButton* advanced);

    TCImageButton* deleteButton() const { return deleteButton_; }
    TCImageButton* formatButton() const { return formatButton_; }
    TCImageButton* completeButton() const { return completeButton_; }
    TCImageButton* nextButton() const { return nextButton_; }

    // Actions.
    void selectScanTypeButtonClick(int tag);
    void selectScanButton(int tag);
    void nextButtonAction();
    void importButtonAction();
    void allTypesButtonClick();
    void selectButtonClick(PLXCustemButton* button);
    void changeAllSelectState(PLXCustemButton* button);
    void removeSelectOffice();
    PLXCustemButton* buildTypeButton(const QString& title, const QString& node, const QString& icon,
                                     const QString& hoverIcon, int tag, const QRect& cocoaFrame);
    // The seven category boxes on a panel over the page's picture, hidden
    // while every category is chosen: unticking the all-types box offers
    // them. Made once, by whoever opens the page.
    void buildCategoryPanel();
    QWidget* categoryPanel() const { return categoryPanel_; }

signals:
    // The next button became usable or not: the main window's continue
    // button follows it, so the two never disagree.
    void nextUsableChanged(bool usable);

private:
    void showAllTypesImage(const QString& name);
    void setNextUsable(bool usable);
    void showCategoryPanel(bool show);
    // Writes a mode card's title and what it finds over its picture.
    void labelCard(TCImageButton* card, const QString& titleKey, const QString& noteKey);
    TCImageButton* makeButton(double x, double y, double w, double h, const QString& normal,
                              const QString& active, const QString& hover, const QString& disable);

    QStringList selectArr_;
    int selectAllCount_ = 0;
    QList<PLXCustemButton*> allTypeButton_;
    VKSelectTypeViewControllerDelegate* delegate_ = nullptr;
    QPushButton* alltypesButton_ = nullptr;
    QString alltypesImage_;
    QPointer<QAbstractButton> quickButton_, advancedButton_;
    TCImageButton* LabelTextButton_ = nullptr;
    TCImageButton* diskButton_ = nullptr;
    TCImageButton* deleteButton_ = nullptr;
    TCImageButton* formatButton_ = nullptr;
    TCImageButton* completeButton_ = nullptr;
    TCImageButton* nextButton_ = nullptr;
    QWidget* categoryPanel_ = nullptr;
};

// The categories in bit order: "1", "2", "4", ... "64".
QStringList AllCategoryKeys();
// The category mask of a choice: the bits its entries name (anything else
// in the list adds nothing).
int CategoryMask(const QStringList& keys);

}  // namespace velmora::windows
