#include "VKDeepScanViewController.h"

#include <QDebug>

#include "Resources/FontRegistry.h"
#include "TopView/TCImageButton.h"

using velmora::ui::FontRegistry;

namespace {

constexpr QSize kViewSize(320, 64);
const QLatin1String kDeepScan("Deep Scan");

}  // namespace

VKDeepScanViewController::VKDeepScanViewController(QWidget* parent)
    : QWidget(parent),
      deepScanNodeLabel_(new QLabel(this)),
      closeButton_(new TCImageButton(QRect(294, 8, 18, 18), this)) {
    resize(kViewSize);
    deepScanNodeLabel_->setGeometry(14, 8, 272, 48);
    deepScanNodeLabel_->setFont(FontRegistry::Font(QStringLiteral("Helvetica"), 13));
    deepScanNodeLabel_->setWordWrap(true);
    deepScanNodeLabel_->setTextFormat(Qt::RichText);
    deepScanNodeLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    closeButton_->setImageFromFileNormalName(
        QStringLiteral("del_normal"), QStringLiteral("del_press"), QStringLiteral("del_normal"),
        QStringLiteral("del_normal"));
    connect(closeButton_, &QAbstractButton::clicked, this,
            &VKDeepScanViewController::closeButtonAction);
    setTextFiled();
}

QString VKDeepScanViewController::SentenceMarkup(const QString& sentence) {
    const qsizetype at = sentence.indexOf(kDeepScan);
    if (at < 0) {
        return sentence.toHtmlEscaped();
    }
    const QFont font = FontRegistry::Font(QStringLiteral("Helvetica"), 14);
    return sentence.left(at).toHtmlEscaped() +
           QStringLiteral("<span style=\"font-family:'%1'; font-size:%2px;\">")
               .arg(font.family())
               .arg(font.pixelSize()) +
           QString(kDeepScan).toHtmlEscaped() + QStringLiteral("</span>") +
           sentence.mid(at + kDeepScan.size()).toHtmlEscaped();
}

void VKDeepScanViewController::setTextFiled() {
    deepScanNodeLabel_->setText(SentenceMarkup(qtTrId("PLX_FOUR_DEEPSCAN_NODE")));
    qDebug("Failed _2");
}

void VKDeepScanViewController::closeButtonAction() {
    if (delegate_ != nullptr) {
        delegate_->popupViewHidden();
    }
}
