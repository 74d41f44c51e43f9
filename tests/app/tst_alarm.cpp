// The shipped alarm chime and Qt Multimedia's player: the file is a short,
// proper WAV, and playing, looping and stopping it works, or at least fails
// quietly, on a machine without a sound device.

#include "app/alarm.h"
#include "settings/generalsettings.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

namespace {

const QString kChime = QStringLiteral(MAILSIEVE_DATA_DIR "/sounds/harptune.wav");

} // namespace

class TestAlarm : public QObject
{
    Q_OBJECT

private slots:
    void shippedChimeIsAShortWave();
    void mediaPlayerPlaysLoopsAndStops();
};

void TestAlarm::shippedChimeIsAShortWave()
{
    QFile file(kChime);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wave = file.readAll();
    QVERIFY(wave.size() > 44 && wave.size() < 100 * 1024);
    QCOMPARE(wave.left(4), QByteArray("RIFF"));
    QCOMPARE(wave.mid(8, 8), QByteArray("WAVEfmt "));
    QCOMPARE(qFromLittleEndian<quint16>(wave.constData() + 20), quint16(1)); // PCM
    const quint32 byteRate = qFromLittleEndian<quint32>(wave.constData() + 28);
    const quint32 dataBytes = qFromLittleEndian<quint32>(wave.constData() + 40);
    const double seconds = double(dataBytes) / byteRate;
    QVERIFY2(seconds > 0.5 && seconds < 3.0, qPrintable(QString::number(seconds)));
}

void TestAlarm::mediaPlayerPlaysLoopsAndStops()
{
    MediaAlarmPlayer player;
    GeneralSettings settings;
    settings.alarmFile = kChime;
    settings.repeatAlarm = true;
    int beeps = 0;
    Alarm alarm(player, settings, [&] { ++beeps; });
    alarm.playAlarmSound(false); // nothing played yet: nothing to stop
    alarm.playAlarmSound(true);
    QTest::qWait(300);
    alarm.playAlarmSound(false);
    settings.repeatAlarm = false;
    alarm.playAlarmSound(true);
    QTest::qWait(100);
    alarm.playAlarmSound(false);
    QCOMPARE(beeps, 0);
}

QTEST_MAIN(TestAlarm)
#include "tst_alarm.moc"
