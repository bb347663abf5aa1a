#include "LocalServer.h"
#include "MainApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

class NullHandler : public ScriptHandler
{
public:
    bool scriptSet(const QString&, const QVariant&) override { return false; }
    QVariant scriptGet(const QString&) override { return QVariant(); }
    QVariant scriptRun(const QString&, const QVariant&) override { return QVariant(); }
};

// Answers the modal dialogs of start-up as a user would, recording their texts.
class DialogAnswerer : public QObject
{
public:
    std::function<void(QWidget*)> answer;
    QStringList seen;

    DialogAnswerer()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w == m_last)
                return;
            m_last = w;
            if (auto* box = qobject_cast<QMessageBox*>(w))
                seen << box->text();
            else if (auto* input = qobject_cast<QInputDialog*>(w))
                seen << input->labelText();
            answer(w);
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    QPointer<QWidget> m_last;
};

void clickButton(QWidget* w, QMessageBox::StandardButton which)
{
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box && box->button(which))
        box->button(which)->click();
    else if (box)
        box->accept();
}

QString uniqueName()
{
    return QStringLiteral("rmx_tst_startup_%1").arg(QRandomGenerator::global()->generate());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void pipeInUseOffersAnotherName();
    void decliningAnotherPipeNameEndsStartUp();

private:
    QTemporaryDir m_dir;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir::setCurrent(m_dir.path());
}

void TestStartup::cleanup()
{
    MainApp::instance()->shutdown();
    MainApp::destroyInstance();
}

void TestStartup::pipeInUseOffersAnotherName()
{
    const QString taken = uniqueName();
    NullHandler other;
    LocalServer otherProgram(&other);
    QCOMPARE(otherProgram.listen(taken), LocalServer::ListenResult::Listening);

    DialogAnswerer user;
    user.answer = [&taken](QWidget* w) {
        if (auto* input = qobject_cast<QInputDialog*>(w)) {
            input->setTextValue(taken + QStringLiteral("_b"));
            input->accept();
        } else {
            clickButton(w, QMessageBox::Yes);
        }
    };
    MainApp* app = MainApp::instance();
    app->setPipeName(taken);
    QVERIFY(app->init());
    QCOMPARE(user.seen, (QStringList{"Pipe is already used by another software\n"
                                     "Use another pipename?(Yes)",
                                     "Pipename"}));
    QCOMPARE(app->pipeName(), taken + QStringLiteral("_b"));
    QVERIFY(app->localServer()->isListening());
    QVERIFY(otherProgram.isListening()); // the other program keeps its pipe
    QVERIFY(LocalServer::isNameInUse(taken + QStringLiteral("_b")));
}

void TestStartup::decliningAnotherPipeNameEndsStartUp()
{
    const QString taken = uniqueName();
    NullHandler other;
    LocalServer otherProgram(&other);
    QCOMPARE(otherProgram.listen(taken), LocalServer::ListenResult::Listening);

    DialogAnswerer user;
    user.answer = [](QWidget* w) {
        clickButton(w, QMessageBox::No);
    };
    MainApp* app = MainApp::instance();
    app->setPipeName(taken);
    QVERIFY(!app->init());
    QCOMPARE(user.seen.size(), 2);
    QVERIFY(user.seen[1].contains(QLatin1String("The program ends")));
    QVERIFY(app->mainWindow() == nullptr);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
