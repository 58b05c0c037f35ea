// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench.h"

#include "texts/messages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;

namespace bench {

namespace {

constexpr qsizetype StockModelSize = 2 * 1024 * 1024;

// Empty files with mixed-case names, as a game's folders hold them.
void fillFolder(const QString &folder, int count, const QString &stem)
{
    QDir().mkpath(folder);
    static const QString forms[] = {u"%1_%2.BMP"_s, u"%1_%2.tga"_s, u"%1_%2.Bmp"_s};
    for (int i = 0; i < count; ++i) {
        QFile file(folder + u'/' +
                   forms[i % 3].arg(i % 2 ? stem.toUpper() : stem).arg(i, 5, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(file.fileName()));
    }
}

} // namespace

InstallRequest request(const QString &game, const QString &model, const QString &maps)
{
    return {game, model, maps, Car{u"Bench"_s, u"bench"_s, 4}, {1, 1, 1, 1}};
}

void say(const QString &text)
{
    std::printf("%s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

void writeFile(const QString &path, qsizetype size, QRandomGenerator &random)
{
    QByteArray data(size, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != size)
        qFatal("cannot write %s", qPrintable(path));
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timed(int rounds, const std::function<void()> &reset, const std::function<void()> &run,
             double *cpuMs)
{
    QList<double> ms;
    QList<double> cpu;
    for (int round = 0; round <= rounds; ++round) {
        reset();
        QElapsedTimer clock;
        clock.start();
        const std::clock_t cpuStart = std::clock();
        run();
        if (round > 0) {
            ms.append(clock.nsecsElapsed() / 1e6);
            cpu.append(double(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC);
        }
    }
    if (cpuMs)
        *cpuMs = median(cpu);
    return median(ms);
}

void runShell(const QString &script)
{
    QProcess shell;
    shell.start(u"/bin/sh"_s, {u"-c"_s, script});
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
        qFatal("shell failed: %s", shell.readAllStandardError().constData());
}

QString quoted(const QString &path)
{
    return u"'"_s + path + u"'"_s;
}

Bench::Bench(const QString &root, int rounds) : m_root(root), m_rounds(rounds)
{
    QRandomGenerator random(1935);
    QDir().mkpath(m_root + u"/src/Maps"_s);
    writeFile(model(), 20 * 1024 * 1024, random);
    for (int i = 0; i < 500; ++i) {
        const QString name =
            u"Car_Tex_%1.%2"_s.arg(i, 3, 10, QChar(u'0')).arg(i % 4 ? u"bmp"_s : u"TGA"_s);
        writeFile(maps() + name, (50 + qsizetype(random.bounded(351))) * 1024, random);
        m_textures.append(name);
    }
}

QString Bench::model() const
{
    return m_root + u"/src/car.4ds"_s;
}

QString Bench::maps() const
{
    return m_root + u"/src/Maps/"_s;
}

QString Bench::game(int textures)
{
    const QString game = m_root + u"/game_%1"_s.arg(textures);
    QDir().mkpath(game);
    QFile(game + u"/A0.DTA"_s).open(QIODevice::WriteOnly);
    fillFolder(game + u"/MODELS"_s, 2000, u"stock"_s);
    fillFolder(game + u"/Maps"_s, textures, u"road"_s);
    return game;
}

void Bench::clean(const QString &game, bool stock)
{
    for (const QString &texture : m_textures)
        QFile::remove(game + u"/Maps/"_s + texture);
    QRandomGenerator random(1936);
    for (int d = 0; d < 2; ++d) {
        for (int c = 0; c < 4; ++c) {
            const QString file = game + u"/MODELS/bench%1%2.4ds"_s.arg(d).arg(c);
            QFile::remove(file);
            if (stock)
                writeFile(file, StockModelSize, random);
        }
    }
    QDir(QFile::decodeName(m_recorded.dataFolder)).removeRecursively();
    runShell(u"sync"_s);
}

double Bench::install(const QString &game, int rounds, double *cpuMs, std::optional<bool> recorded)
{
    const InstallRequest form = request(game, model(), maps());
    const runtime::HostPaths &host = recorded.value_or(false) ? m_recorded : m_host;
    InstallOutcome outcome;
    const double ms = timed(
        rounds > 0 ? rounds : m_rounds, [&] { clean(game, recorded.has_value()); },
        [&] { outcome = InstallCar(form, m_files, host, recordsOf(host)); }, cpuMs);
    if (!outcome.installed())
        qFatal("install failed: %s", qPrintable(closingMessage(outcome).text));
    return ms;
}

Bench::SideBySide Bench::sideBySide(const QString &game)
{
    QList<double> install, cp, cpSync;
    for (int round = 0; round < m_rounds; ++round) {
        install.append(this->install(game, 1));
        cp.append(copy(game, false, 1));
        cpSync.append(copy(game, true, 1));
    }
    return {median(install), median(cp), median(cpSync)};
}

Bench::Space Bench::spaceOfInstall(const QString &game, std::optional<bool> recorded)
{
    Space space{QFileInfo(model()).size() * 8, 0};
    for (const QString &texture : m_textures)
        space.copied += QFileInfo(maps() + texture).size();
    clean(game, recorded.has_value());
    const qint64 before = QStorageInfo(game).bytesFree();
    const InstallRequest form = request(game, model(), maps());
    InstallCar(form, m_files, recorded.value_or(false) ? m_recorded : m_host,
               recordsOf(recorded.value_or(false) ? m_recorded : m_host));
    runShell(u"sync"_s);
    space.taken = before - QStorageInfo(game).bytesFree();
    return space;
}

QString Bench::copyScript(const QString &game, const QString &stem, const QString &textures,
                          bool sync) const
{
    QString script;
    for (int d = 0; d < 2; ++d)
        for (int c = 0; c < 4; ++c)
            script += u"cp -f %1 %2/MODELS/%3%4%5.4ds\n"_s.arg(quoted(model()), quoted(game), stem)
                          .arg(d)
                          .arg(c);
    script += u"cp -f %1* %2/Maps/\n"_s.arg(quoted(textures), quoted(game));
    if (sync)
        script += u"sync -f %1/Maps\n"_s.arg(quoted(game));
    return script;
}

double Bench::copy(const QString &game, bool sync, int rounds)
{
    const QString script = copyScript(game, u"bench"_s, maps(), sync);
    return timed(
        rounds > 0 ? rounds : m_rounds, [&] { clean(game); }, [&] { runShell(script); });
}

double Bench::checks()
{
    const QString noTextures = m_root + u"/notextures/"_s;
    QDir().mkpath(noTextures);
    for (int i = 0; i < 50000; ++i)
        QFile(noTextures + u"Tex_%1.dds"_s.arg(i, 5, 10, QChar(u'0'))).open(QIODevice::WriteOnly);
    const InstallRequest form = request(game(0), model(), noTextures);
    InstallOutcome outcome;
    const double ms = timed(
        m_rounds, [] {}, [&] { outcome = InstallCar(form, m_files, m_host, nullptr); });
    if (outcome.failedCheck != Check::Textures)
        qFatal("unexpected: %s", qPrintable(closingMessage(outcome).text));
    return ms;
}

QList<Bench::Startup> Bench::startup(const QStringList &programs, const QString &carList)
{
    QList<QList<double>> inside(programs.size()), wall(programs.size());
    QList<qint64> peak(programs.size(), 0);
    auto env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(u"QT_QPA_PLATFORM"_s))
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    for (int round = 0; round <= m_rounds; ++round) {
        for (qsizetype i = 0; i < programs.size(); ++i) {
            QProcess process;
            process.setProcessEnvironment(env);
            QElapsedTimer clock;
            clock.start();
            process.start(programs[i], {carList});
            if (!process.waitForFinished(-1) || process.exitCode() != 0)
                qFatal("%s failed", qPrintable(programs[i]));
            const double ms = clock.nsecsElapsed() / 1e6;
            const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
            if (round == 0 || fields.size() != 2)
                continue;
            inside[i].append(fields[0].toDouble() / 1000);
            wall[i].append(ms);
            peak[i] = std::max(peak[i], fields[1].toLongLong());
        }
    }
    QList<Startup> results;
    for (qsizetype i = 0; i < programs.size(); ++i)
        results.append({median(inside[i]), median(wall[i]), peak[i]});
    return results;
}

QString Bench::carList()
{
    const QString path = m_root + u"/cars.txt"_s;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    for (int i = 0; i < 1001; ++i)
        file.write("\"Car " + QByteArray::number(i) + ", coupe\",car" + QByteArray::number(i) +
                   "," + QByteArray::number(i % 4 + 1) + "\r\n");
    return path;
}

} // namespace bench
