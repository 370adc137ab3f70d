#include "Windows/VKSelectTypeViewController.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "TopView/TCImageButton.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/WindowBuilder.h"
#include "Widgets/PLXCustemButton.h"

namespace velmora::windows {

namespace {

constexpr int kCategoryCount = 7;

QRect PageRect(double x, double y, double w, double h) {
    return ui::ToQtRect({x, y, w, h}, VKSelectTypeViewController::kHeight);
}

}  // namespace

QStringList AllCategoryKeys() {
    QStringList keys;
    for (int i = 0; i < kCategoryCount; ++i)
        keys << QString::number(1 << i);
    return keys;
}

int CategoryMask(const QStringList& keys) {
    int mask = 0;
    const QStringList known = AllCategoryKeys();
    for (const QString& key : keys) {
        if (known.contains(key))
            mask |= key.toInt();
    }
    return mask;
}

VKSelectTypeViewController::VKSelectTypeViewController(QWidget* parent)
    : QWidget(parent), selectArr_(AllCategoryKeys()) {
    setObjectName(QStringLiteral("TypeXib"));
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);

    LabelTextButton_ = makeButton(190, 472, 510, 40, "text", "text", "text", "text");
    diskButton_ = makeButton(10, 135, 440, 340, "icon_b", "icon_b", "icon_b", "icon_b");
    deleteButton_ = makeButton(444, 340, 410, 90, "d_recover_normal", "d_recover_select",
                               "d_recover_hover", "d_recover_normal");
    formatButton_ = makeButton(444, 246, 410, 90, "f_recover_normal", "f_recover_select",
                               "f_recover_hover", "f_recover_normal");
    completeButton_ = makeButton(444, 152, 410, 90, "c_recover_normal", "c_recover_select",
                                 "c_recover_hover", "c_recover_normal");
    nextButton_ =
        makeButton(312, 12, 300, 70, "next_normal", "next_press", "next_hover", "next_disable");
    deleteButton_->setObjectName(QStringLiteral("deleteButton"));
    formatButton_->setObjectName(QStringLiteral("formatButton"));
    completeButton_->setObjectName(QStringLiteral("completeButton"));
    nextButton_->setObjectName(QStringLiteral("nextButton"));

    const struct {
        TCImageButton* button;
        int tag;
    } modes[] = {{deleteButton_, 1}, {formatButton_, 2}, {completeButton_, 3}};
    for (const auto& mode : modes) {
        connect(mode.button, &QAbstractButton::clicked, this,
                [this, tag = mode.tag] { selectScanTypeButtonClick(tag); });
    }
    connect(nextButton_, &QAbstractButton::clicked, this, [this] { nextButtonAction(); });
    deleteButton_->setButtonClicked(true);

    // The cards' pictures hold no words: each card says what its mode finds.
    labelCard(deleteButton_, QStringLiteral("PLX_TWO_DELETED_TITLE"),
              QStringLiteral("PLX_TWO_DELETED_NOTE"));
    labelCard(formatButton_, QStringLiteral("PLX_TWO_FORMATTED_TITLE"),
              QStringLiteral("PLX_TWO_FORMATTED_NOTE"));
    labelCard(completeButton_, QStringLiteral("PLX_TWO_DEEP_TITLE"),
              QStringLiteral("PLX_TWO_DEEP_NOTE"));
    // The next button's picture is an arrow: its word is drawn over it.
    const QString next = ui::texts::Text(QStringLiteral("PLX_TWO_NEXT_BUTTON"));
    nextButton_->setTextWithName(next, nextButton_->geometry());
    nextButton_->textField()->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 16));
    nextButton_->setAccessibleName(next);
    nextButton_->setFocusRingRadius(35);

    // The all-types box: its picture and the text beside it.
    alltypesButton_ = new QPushButton(ui::texts::Text(QStringLiteral("PLX_TWO_ALL_TYPES")), this);
    alltypesButton_->setObjectName(QStringLiteral("alltypesButton"));
    alltypesButton_->setFlat(true);
    alltypesButton_->setCursor(Qt::PointingHandCursor);
    alltypesButton_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; text-align: left; "
                       "color: #383838; }"));
    alltypesButton_->setGeometry(PageRect(444, 118, 300, 24));
    showAllTypesImage(QStringLiteral("checkbox_no"));
    connect(alltypesButton_, &QPushButton::clicked, this, [this] { allTypesButtonClick(); });

    // Without a mouse: Tab goes through the modes, the box and the next
    // button; Return or the space bar on a mode chooses it.
    for (QWidget* w : {static_cast<QWidget*>(deleteButton_), static_cast<QWidget*>(formatButton_),
                       static_cast<QWidget*>(completeButton_), static_cast<QWidget*>(nextButton_)})
        w->setFocusPolicy(Qt::StrongFocus);
    alltypesButton_->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(deleteButton_, formatButton_);
    setTabOrder(formatButton_, completeButton_);
    setTabOrder(completeButton_, alltypesButton_);
    setTabOrder(alltypesButton_, nextButton_);
}

void VKSelectTypeViewController::labelCard(TCImageButton* card, const QString& titleKey,
                                           const QString& noteKey) {
    const QString title = ui::texts::Text(titleKey);
    const QString note = ui::texts::Text(noteKey);
    auto* titleLabel = new QLabel(title, card);
    titleLabel->setObjectName(QStringLiteral("cardTitle"));
    titleLabel->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 16));
    titleLabel->setStyleSheet(QStringLiteral("color: #383838;"));
    titleLabel->setGeometry(70, 16, card->width() - 86, 24);
    auto* noteLabel = new QLabel(note, card);
    noteLabel->setObjectName(QStringLiteral("cardNote"));
    noteLabel->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica Light"), 13));
    noteLabel->setStyleSheet(QStringLiteral("color: #7e8fa4;"));
    noteLabel->setWordWrap(true);
    noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    noteLabel->setGeometry(70, 42, card->width() - 86, 40);
    for (QLabel* label : {titleLabel, noteLabel})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    card->setAccessibleName(title);
    card->setAccessibleDescription(note);
}

VKSelectTypeViewController::~VKSelectTypeViewController() = default;

TCImageButton* VKSelectTypeViewController::makeButton(double x, double y, double w, double h,
                                                      const QString& normal, const QString& active,
                                                      const QString& hover,
                                                      const QString& disable) {
    auto* button = new TCImageButton(PageRect(x, y, w, h), this);
    button->setImageFromFileNormalName(normal, active, hover, disable);
    button->setButtonEnabled(true);
    return button;
}

void VKSelectTypeViewController::setRadioButtons(QAbstractButton* quick,
                                                 QAbstractButton* advanced) {
    quickButton_ = quick;
    advancedButton_ = advanced;
}

void VKSelectTypeViewController::showAllTypesImage(const QString& name) {
    alltypesImage_ = name;
    alltypesButton_->setIcon(ui::ImageRegistry::Icon(name));
    alltypesButton_->setIconSize(QSize(16, 16));
}

// Tags 1 and 2 are the two quick modes, anything else the deep one.
void VKSelectTypeViewController::selectScanTypeButtonClick(int tag) {
    deleteButton_->setButtonClicked(tag == 1);
    formatButton_->setButtonClicked(tag == 2);
    completeButton_->setButtonClicked(tag != 1 && tag != 2);
    if (delegate_)
        delegate_->changeScanTypeWithNum(tag == 1 || tag == 2 ? 1 : 2);
}

void VKSelectTypeViewController::selectScanButton(int tag) {
    const QString yes = QStringLiteral("radio_button_yes");
    const QString no = QStringLiteral("radio_button_no");
    if (quickButton_)
        quickButton_->setIcon(ui::ImageRegistry::Icon(tag == 1 ? yes : no));
    if (advancedButton_)
        advancedButton_->setIcon(ui::ImageRegistry::Icon(tag == 1 ? no : yes));
    if (delegate_)
        delegate_->changeScanTypeWithNum(tag);
}

// The delegate gets the page's own list and keeps it.
void VKSelectTypeViewController::nextButtonAction() {
    if (delegate_)
        delegate_->nextButtonActionWithAllTypeArr(&selectArr_);
}

void VKSelectTypeViewController::importButtonAction() {
    if (delegate_)
        delegate_->importButtonAction();
}

void VKSelectTypeViewController::setNextUsable(bool usable) {
    nextButton_->setButtonEnabled(usable);
    emit nextUsableChanged(usable);
}

void VKSelectTypeViewController::showCategoryPanel(bool show) {
    if (!categoryPanel_)
        return;
    categoryPanel_->setVisible(show);
    for (PLXCustemButton* button : allTypeButton_)
        button->setVisible(show);
}

void VKSelectTypeViewController::allTypesButtonClick() {
    selectArr_.clear();
    int flag;
    if (selectAllCount_ == 1) {
        selectAllCount_ = 0;
        showAllTypesImage(QStringLiteral("checkbox_no"));
        setNextUsable(false);
        for (PLXCustemButton* button : allTypeButton_)
            button->changeButtonStart(false);
        // Nothing is chosen now: the categories are offered one by one.
        showCategoryPanel(true);
        flag = 0;
    } else {
        selectAllCount_ = 1;
        showAllTypesImage(QStringLiteral("checkbox_yes"));
        selectArr_ = AllCategoryKeys();
        setNextUsable(true);
        for (PLXCustemButton* button : allTypeButton_)
            button->changeButtonStart(true);
        showCategoryPanel(false);
        flag = 1;
    }
    if (delegate_)
        delegate_->isSelectOffice(flag);
}

// The box shows what the choice holds now, however the click came (the
// button flips its own flag only on a mouse press).
void VKSelectTypeViewController::selectButtonClick(PLXCustemButton* button) {
    changeAllSelectState(button);
    button->changeButtonStart(selectArr_.contains(QString::number(1 << button->buttonTag())));
}

void VKSelectTypeViewController::changeAllSelectState(PLXCustemButton* button) {
    const QString key = QString::number(1 << button->buttonTag());
    if (selectArr_.contains(key))
        selectArr_.removeAll(key);
    else
        selectArr_.append(key);
    const qsizetype count = selectArr_.size();
    if (count == 0) {
        showAllTypesImage(QStringLiteral("checkbox_no"));
        selectAllCount_ = 0;
        setNextUsable(false);
    } else if (count == kCategoryCount) {
        showAllTypesImage(QStringLiteral("checkbox_yes"));
        selectAllCount_ = 1;
        setNextUsable(true);
    } else {
        showAllTypesImage(QStringLiteral("checkbox_half"));
        selectAllCount_ = 2;
        setNextUsable(true);
    }
}

// Only the list changes: the box and the next button stay as they are.
void VKSelectTypeViewController::removeSelectOffice() {
    selectArr_.removeAll(QStringLiteral("8"));
}

// The title and description are taken and not shown.
PLXCustemButton* VKSelectTypeViewController::buildTypeButton(const QString&, const QString&,
                                                             const QString& icon,
                                                             const QString& hoverIcon, int tag,
                                                             const QRect& cocoaFrame) {
    auto* button = new PLXCustemButton(this);
    button->setGeometry(
        PageRect(cocoaFrame.x(), cocoaFrame.y(), cocoaFrame.width(), cocoaFrame.height()));
    button->setIconImage(icon, hoverIcon);
    button->setButtonTag(tag);
    connect(button, &QAbstractButton::clicked, this, [this, button] { selectButtonClick(button); });
    allTypeButton_.append(button);
    button->show();
    return button;
}

namespace {

// The categories in bit order, by their titles.
const char* const kCategoryTitleKeys[kCategoryCount] = {
    "PLX_TWO_DOCUMENT_TITLE", "PLX_TWO_PICTURE_TITLE", "PLX_TWO_MOVIE_TITLE", "PLX_TWO_MUSIC_TITLE",
    "PLX_TWO_ARCHIVES_TITLE", "PLX_TWO_EMAIL_TITLE",   "PLX_TWO_OTHER_TITLE"};

// The panel lies over the page's picture, clear of the mode cards (x from
// 444) and of the next button (up to y 82); frames from the bottom-left.
constexpr double kPanelX = 20, kPanelY = 132, kPanelW = 410, kPanelH = 340;
constexpr double kRowHeight = 38, kRowWidth = 380;

}  // namespace

void VKSelectTypeViewController::buildCategoryPanel() {
    if (categoryPanel_)
        return;
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("categoryPanel"));
    panel->setGeometry(PageRect(kPanelX, kPanelY, kPanelW, kPanelH));
    panel->setStyleSheet(
        QStringLiteral("#categoryPanel { background: white; "
                       "border: 1px solid #d8dee6; border-radius: 6px; }"));
    auto* title = new QLabel(ui::texts::Text(QStringLiteral("PLX_TWO_CATEGORIES_TITLE")), panel);
    title->setObjectName(QStringLiteral("categoryPanelTitle"));
    title->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 14));
    title->setStyleSheet(QStringLiteral("color: #383838;"));
    title->setGeometry(20, 12, static_cast<int>(kPanelW) - 40, 24);
    categoryPanel_ = panel;

    const double top = kPanelY + kPanelH - 44;
    for (int tag = 0; tag < kCategoryCount; ++tag) {
        const QString name = ui::texts::Text(QString::fromLatin1(kCategoryTitleKeys[tag]));
        const QRect frame(static_cast<int>(kPanelX + 15),
                          static_cast<int>(top - kRowHeight * (tag + 1)),
                          static_cast<int>(kRowWidth), static_cast<int>(kRowHeight - 2));
        PLXCustemButton* button = buildTypeButton(name, QString(), QStringLiteral("checkbox_no"),
                                                  QStringLiteral("checkbox_yes"), tag, frame);
        button->setObjectName(QStringLiteral("categoryButton%1").arg(1 << tag));
        button->setTitleStr(name, QString());
        // One line per category: the box and its name side by side.
        button->iconImageView()->setGeometry(8, 0, 24, frame.height());
        if (QLabel* label = button->titleTextField()) {
            label->setFont(ui::FontRegistry::Font(QStringLiteral("Helvetica"), 14));
            label->setGeometry(40, 0, frame.width() - 48, frame.height());
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (QLabel* note = button->nodeTextField())
            note->hide();
        button->setAccessibleName(name);
        button->setCursor(Qt::PointingHandCursor);
        button->changeButtonStart(selectArr_.contains(QString::number(1 << tag)));
        button->raise();
    }
    showCategoryPanel(selectAllCount_ != 1);
}

}  // namespace velmora::windows
