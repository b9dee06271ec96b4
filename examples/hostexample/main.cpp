// A console program of the family: a ConsoleApplication whose main thread
// does periodic work through its timer service, and a worker thread whose
// ThreadContext counts in delayed calls. The threads are named, so that
// `ps -L` and debuggers tell them apart. It registers its version and
// service strings and one option of its own, and runs until Ctrl+C.
// Try -kb (keyboard commands, F1 for help) and -cd (crash dumps).
#include <Kor/KorCore.h>

#include <cstdio>

using namespace Kor::NS;

namespace {

int g_interval = 2000;

class GreeterThread : public BasicMainThread
{
public:
    GreeterThread() : BasicMainThread(Kor::String("Greeter")) {}

    void DerivedClassInit() override
    {
        SetCurrentThreadName("Greeter");
        // Runs on this thread; the timer's work is posted back to it.
        GetTimer()->StartTimer(this, [this] { greet(); }, unsigned(g_interval), true);
    }

private:
    void greet()
    {
        Log(Kor::LOG_INFO, __FILE__, __LINE__, Kor::INFO, "hello number %d from the main thread", ++m_count);
    }

    int m_count = 0;
};

// Counts on its own thread: each tick schedules the next one.
void scheduleTick(ThreadContext* context, int count)
{
    context->delayedCall(g_interval, [context, count] {
        LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_INFO)
            << "tick " << count << " from the worker thread";
        scheduleTick(context, count + 1);
    });
}

} // namespace

class ExampleApplication : public ConsoleApplication
{
    Q_OBJECT
public:
    using ConsoleApplication::ConsoleApplication;
    ~ExampleApplication() override { stopWorker(); }

    Kor::Thread* createThread() override { return new GreeterThread(); }

    void init() override
    {
        // The data folders of the machine's set-up file, created on first start.
        setupConfig()->createKorDataFolders();
        LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_INFO)
            << "Free space in the call pool " << setupConfig()->callPoolDirPath() << ": "
            << QString::number(RecordingPool::bytesFree()) << " bytes";
        LogMessage(currentThreadLogObject(), Kor::String(), Kor::ALWAYS, Kor::LOG_INFO)
            << "Example running; greeting every " << g_interval << " ms. Ctrl+C ends it.";
        startWorker();
        ConsoleApplication::init();
    }

private:
    void startWorker()
    {
        // The context and the thread both end with the program: the thread
        // deletes the context when its loop stops.
        m_worker.setObjectName(QStringLiteral("ExampleWorker"));
        auto* context = new ThreadContext;
        m_worker.add(context);
        m_worker.start();
        scheduleTick(context, 1);
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stopWorker(); });
    }

    void stopWorker()
    {
        m_worker.quit();
        m_worker.wait();
    }

    OwnerThread m_worker;

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
        g_interval = interval;
        return Parameter::Continue;
    }
};

int main(int argc, char** argv)
{
    try {
        Application::prepare(true);
    } catch (const KorException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    int code = 0;
    {
        ExampleApplication app(argc, argv);
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
