#include "VKNSTableView.h"

#include <QKeyEvent>
#include <QLocale>
#include <QResizeEvent>

#include "Resources/FontRegistry.h"
#include "Resources/ImageRegistry.h"
#include "VKTableHeaderView.h"
#include "WidgetHooks.h"

using velmora::ui::ImageRegistry;

namespace {

std::function<QString()>& LanguageSource() {
    static std::function<QString()> source;
    return source;
}

QString InterfaceLanguage() {
    if (LanguageSource()) {
        return LanguageSource()();
    }
    const QStringList languages = QLocale().uiLanguages();
    return languages.isEmpty() ? QString() : languages.first();
}

constexpr int kNoteHeight = 50;
constexpr int kArrowWidth = 82;
constexpr int kArrowHeight = 39;
constexpr int kNoteTextWidth = 420;

}  // namespace

VKNSTableView::VKNSTableView(QWidget* parent) : QTableView(parent) {
    header_ = new VKTableHeaderView(this);
    setHorizontalHeader(header_);
    viewport()->installEventFilter(this);
}

void VKNSTableView::SetInterfaceLanguageSource(std::function<QString()> source) {
    LanguageSource() = std::move(source);
}

float VKNSTableView::getLableHight() const {
    static const QStringList kWrapping = {"de", "fr", "es", "it", "pt-BR"};
    return kWrapping.contains(InterfaceLanguage()) ? 40 : 25;
}

QRect VKNSTableView::noteFrame() const {
    const QSize s = viewport()->size();
    // The text reaches past the note's 400 points; the note is widened so
    // that nothing of it is cut off.
    return QRect(s.width() / 2 - 200, s.height() / 2, kArrowWidth + kNoteTextWidth, kNoteHeight);
}

void VKNSTableView::changeFrame() {
    if (nodeView_) {
        nodeView_->setGeometry(noteFrame());
    }
}

void VKNSTableView::changeNoValue(bool hasValues) {
    if (hasValues) {
        delete noValueView_;
        return;
    }
    if (noValueView_) {
        return;
    }
    QWidget* port = viewport();
    noValueView_ = new QWidget(port);
    noValueView_->setObjectName(QStringLiteral("noValueView"));
    noValueView_->setGeometry(port->rect());

    background_ = new QLabel(noValueView_);
    background_->setPixmap(ImageRegistry::Pixmap(QStringLiteral("bg_150")));
    background_->setScaledContents(true);
    background_->setGeometry(noValueView_->rect());

    nodeView_ = new QWidget(noValueView_);
    nodeView_->setObjectName(QStringLiteral("nodeView"));
    nodeView_->setGeometry(noteFrame());

    auto* arrow = new QLabel(nodeView_);
    arrow->setPixmap(ImageRegistry::Pixmap(QStringLiteral("arrow")));
    arrow->setScaledContents(true);
    arrow->setGeometry(0, 0, kArrowWidth, kArrowHeight);

    auto* note = new QLabel(nodeView_);
    note->setObjectName(QStringLiteral("noteText"));
    note->setGeometry(kArrowWidth, 0, kNoteTextWidth, qRound(getLableHight()));
    note->setFont(velmora::ui::FontRegistry::SystemFont(14));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette p = note->palette();
    p.setColor(QPalette::WindowText, Qt::gray);
    note->setPalette(p);
    note->setText(qtTrId("PLX_FOUR_NO_VALUE_NOTE"));
    noValueView_->show();
}

void VKNSTableView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        // Every space, auto-repeats too, asks for the preview.
        velmora::ui::PostWidgetNotification(QString::fromLatin1(kSpacePreviewFile));
        emit spacePreviewFile();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool VKNSTableView::eventFilter(QObject* watched, QEvent* event) {
    // The overlay and its background follow the table's size; the note
    // stays where it is until changeFrame.
    if (watched == viewport() && event->type() == QEvent::Resize && noValueView_) {
        noValueView_->setGeometry(viewport()->rect());
        if (background_) {
            background_->setGeometry(noValueView_->rect());
        }
    }
    return QTableView::eventFilter(watched, event);
}
