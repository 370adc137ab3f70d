// Runs Qt's QAbstractItemModelTester over a model for as long as it lives
// and keeps what it reports, so that a test can show the faults found
// (the tester only logs them in its warning mode).
#pragma once

#include <QAbstractItemModelTester>
#include <QString>
#include <QStringList>
#include <memory>

namespace velmora::testing {

class ModelCheck {
public:
    explicit ModelCheck(QAbstractItemModel* model) {
        Current() = this;
        previous_ = qInstallMessageHandler(&Handle);
        tester_ = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~ModelCheck() {
        tester_.reset();
        qInstallMessageHandler(previous_);
        Current() = nullptr;
    }
    ModelCheck(const ModelCheck&) = delete;
    ModelCheck& operator=(const ModelCheck&) = delete;

    // Every fault the tester reported so far, one a line.
    QString failures() const { return failures_.join(QLatin1Char('\n')); }

private:
    static ModelCheck*& Current() {
        static ModelCheck* current = nullptr;
        return current;
    }
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        ModelCheck* check = Current();
        if (check != nullptr && text.contains(QLatin1String("FAIL!")))
            check->failures_ << text;
        else if (check != nullptr && check->previous_ != nullptr)
            check->previous_(type, context, text);
    }

    QtMessageHandler previous_ = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    QStringList failures_;
};

}  // namespace velmora::testing
