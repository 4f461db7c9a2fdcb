#include "HistoryWriter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>
#include <atomic>
#include <memory>
#include <utility>

#include "Errors.h"
#include "HistoryQueue.h"

namespace History {

namespace {
std::atomic<Sink*> currentSink{nullptr};
}

Sink* CurrentSink() {
    return currentSink.load();
}

void SetCurrentSink(Sink* sink) {
    currentSink.store(sink);
}

namespace {
QMutex intervalsMutex;
QHash<QString, int> intervals;
} // namespace

int IntervalFor(const QString& registration) {
    QMutexLocker lock(&intervalsMutex);
    return intervals.value(registration, DefaultIntervalMonths);
}

void NoteInterval(const QString& registration, int months) {
    QMutexLocker lock(&intervalsMutex);
    intervals[registration] = months;
}

Writer* CurrentWriter() {
    return dynamic_cast<Writer*>(currentSink.load());
}

void Record(const Entry& entry) {
    if (Sink* s = currentSink.load())
        s->add(entry);
}

class WriterWorker : public QObject {
    Q_OBJECT
  public:
    WriterWorker(Target target, QString queuePath, int retryMs)
        : target_(std::move(target)), queue_(std::move(queuePath)), retryMs_(retryMs) {}

    // From any thread.
    void hand(const Entry& e) {
        QMutexLocker lock(&mutex_);
        pending_.append(e);
        ++handed_;
    }
    // Everything handed over before has been tried.
    bool waitTried(qint64 upTo, qint64 attempt, int ms) {
        QMutexLocker lock(&mutex_);
        QDeadlineTimer deadline(ms);
        while (tried_ < upTo || attempts_ <= attempt)
            if (!changed_.wait(&mutex_, deadline))
                return false;
        return true;
    }
    qint64 handed() {
        QMutexLocker lock(&mutex_);
        return handed_;
    }
    qint64 attempts() {
        QMutexLocker lock(&mutex_);
        return attempts_;
    }
    // At the end: what could not reach the queue file yet goes there now.
    void last() {
        QList<Entry> rest;
        {
            QMutexLocker lock(&mutex_);
            rest.swap(pending_);
        }
        queue_.append(rest);
    }

  public slots:
    void work() {
        qint64 upTo = 0;
        QList<Entry> pending;
        {
            QMutexLocker lock(&mutex_);
            pending.swap(pending_);
            upTo = handed_;
        }
        QString problem;
        if (!queue_.append(pending, &problem)) {
            // Kept in memory and tried again: the file is busy or the disk full.
            QMutexLocker lock(&mutex_);
            pending_ = pending + pending_;
        }
        if (problem.isEmpty())
            problem = flush();
        if (problem.isEmpty()) {
            if (down_)
                emit available(written_);
            down_ = false;
            written_ = 0;
        } else {
            if (!down_)
                emit unavailable(problem);
            down_ = true;
            if (!timer_) {
                timer_ = new QTimer(this);
                timer_->setSingleShot(true);
                connect(timer_, &QTimer::timeout, this, &WriterWorker::work);
            }
            timer_->start(retryMs_);
        }
        QMutexLocker lock(&mutex_);
        tried_ = std::max(tried_, upTo);
        ++attempts_;
        changed_.wakeAll();
    }

    void findModule(const QString& registration) {
        std::optional<ModuleRow> row;
        try {
            row = store().module(registration, QDate::currentDate());
        } catch (const Exception&) {
            store().close();
        }
        if (row)
            NoteInterval(registration, row->intervalMonths);
        emit moduleFound(registration, row);
    }

    void moveTo(const Target& target) {
        store_.reset();
        target_ = target;
        down_ = false;
        written_ = 0;
        work();
    }

    void end() {
        delete timer_;
        timer_ = nullptr;
        store_.reset();
    }

  signals:
    void unavailable(const QString& message);
    void available(int written);
    void moduleFound(const QString& registration, const std::optional<History::ModuleRow>& row);

  private:
    Store& store() {
        if (!store_)
            store_ = std::make_unique<Store>(target_);
        return *store_;
    }

    // Hands the queue to the store; the problem, or empty.
    QString flush() {
        QList<Entry> waiting;
        QString problem;
        if (!queue_.read(&waiting, &problem))
            return problem;
        if (waiting.isEmpty())
            return {};
        try {
            // In bounded pieces, so that one transaction stays short.
            for (qsizetype at = 0; at < waiting.size(); at += 500) {
                const QList<Entry> piece = waiting.mid(at, 500);
                written_ += store().add(piece);
                QSet<QString> uids;
                for (const Entry& e : piece)
                    uids.insert(e.uid);
                if (!queue_.remove(uids, &problem))
                    return problem;
            }
        } catch (const Exception& e) {
            store().close();
            return e.message();
        }
        return {};
    }

    Target target_;
    Queue queue_;
    int retryMs_;
    std::unique_ptr<Store> store_;
    QTimer* timer_ = nullptr;
    bool down_ = false;
    int written_ = 0;

    QMutex mutex_;
    QWaitCondition changed_;
    QList<Entry> pending_;
    qint64 handed_ = 0;
    qint64 tried_ = 0;
    qint64 attempts_ = 0;
};

namespace {
QObject* databaseContext = nullptr; // on the database thread; used on the main thread only

#if !defined(Q_OS_WIN)
void EndDatabaseThread() {
    QObject* context = std::exchange(databaseContext, nullptr);
    if (!context)
        return;
    QThread* thread = context->thread();
    QMetaObject::invokeMethod(context, &QObject::deleteLater);
    thread->quit();
    // A server that does not answer is given up after its connect timeout;
    // a thread still hanging then is left to the end of the process.
    if (thread->wait(15000))
        delete thread;
}
#endif
} // namespace

QObject* DatabaseThread() {
    if (!databaseContext) {
        auto* thread = new QThread;
        thread->setObjectName(QStringLiteral("history"));
        databaseContext = new QObject;
        databaseContext->moveToThread(thread);
        thread->start();
#if !defined(Q_OS_WIN)
        qAddPostRoutine(EndDatabaseThread);
#endif
    }
    return databaseContext;
}

Writer::Writer(Target target, QString queuePath, int retryMs, QObject* parent)
    : QObject(parent), target_(target),
      worker_(new WriterWorker(std::move(target), std::move(queuePath), retryMs)) {
    qRegisterMetaType<std::optional<History::ModuleRow>>();
    worker_->moveToThread(DatabaseThread()->thread());
    connect(worker_, &WriterWorker::unavailable, this, &Writer::unavailable);
    connect(worker_, &WriterWorker::available, this, &Writer::available);
    connect(worker_, &WriterWorker::moduleFound, this, &Writer::moduleFound);
    // What an earlier run left in the queue goes now.
    retry();
}

Writer::~Writer() {
    if (CurrentSink() == this)
        SetCurrentSink(nullptr);
    // What came last gets one try before the end (a local file takes it at
    // once); whatever does not go waits in the queue for the next run.
    settle(2000);
    // The store is closed and what is still in hand goes to the queue file,
    // on the database thread; a server that does not answer is given up
    // after its connect timeout, and a worker still hanging then finishes by
    // itself.
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, done] {
            w->end();
            w->last();
            w->deleteLater();
            done->release();
        },
        Qt::QueuedConnection);
    done->tryAcquire(1, 15000);
}

void Writer::add(const Entry& entry) {
    worker_->hand(entry);
    QMetaObject::invokeMethod(worker_, &WriterWorker::work, Qt::QueuedConnection);
}

void Writer::retry() {
    QMetaObject::invokeMethod(worker_, &WriterWorker::work, Qt::QueuedConnection);
}

void Writer::retarget(const Target& target) {
    target_ = target;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, target] { w->moveTo(target); }, Qt::QueuedConnection);
}

void Writer::askModule(const QString& registration) {
    QMetaObject::invokeMethod(
        worker_, [w = worker_, registration] { w->findModule(registration); },
        Qt::QueuedConnection);
}

bool Writer::settle(int ms) {
    const qint64 upTo = worker_->handed();
    const qint64 attempt = worker_->attempts();
    retry();
    return worker_->waitTried(upTo, attempt, ms);
}

} // namespace History

#include "HistoryWriter.moc"
