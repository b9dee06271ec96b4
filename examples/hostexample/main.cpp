// A console program of the family: it registers its version and service
// strings and one option of its own, and runs until Ctrl+C.
#include <Kor/KorCore.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace Kor::NS;

class ExampleApplication : public Application
{
    Q_OBJECT
public:
    using Application::Application;

    void init() override
    {
        LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_INFO)
            << "Example running; greeting every " << m_interval << " ms. Ctrl+C ends it.";
        connect(&m_timer, &QTimer::timeout, this, [this] {
            LogMessage(Kor::LogObject::getLogObject("Greeter"), Kor::String(), Kor::INFO, Kor::LOG_INFO)
                << "hello number " << ++m_count;
        });
        m_timer.start(m_interval);
    }

public slots:
    Parameter::ProcessState setInterval(QVariant value)
    {
        bool ok = false;
        const int interval = value.toString().toInt(&ok);
        if (!ok || interval <= 0) {
            LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_ERROR)
                << "Invalid interval '" << value.toString() << "'";
            return Parameter::Failed;
        }
        m_interval = interval;
        return Parameter::Continue;
    }

private:
    QTimer m_timer;
    int m_interval = 2000;
    int m_count = 0;
};

int main(int argc, char** argv)
{
    auto core = QSharedPointer<QCoreApplication>::create(argc, argv);
    try {
        Application::prepare(true);
    } catch (const KorException& e) {
        std::fprintf(stderr, "%s (is KOR_REGISTRY_ROOT set?)\n", e.what());
        return 1;
    }
    int code = 0;
    {
        ExampleApplication app(core);
        Application::registerAppVersion(QStringLiteral("Kor Example"), 1, 2, 3, QStringLiteral("Kor Example"),
                                        QStringLiteral("Example host program of the library"), QString());
        app.registerParameter(QStringLiteral("interval"), QStringLiteral("n"), QStringLiteral("pInterval"),
                              QStringLiteral("setInterval"), Parameter::SingleValue,
                              QStringLiteral("<MILLISECONDS>\nTime between two greetings."));
        code = app.main();
    }
    Application::finish();
    return code;
}

#include "main.moc"
