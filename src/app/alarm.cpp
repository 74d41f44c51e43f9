#include "app/alarm.h"

#include "settings/generalsettings.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QUrl>

MediaAlarmPlayer::MediaAlarmPlayer() = default;

MediaAlarmPlayer::~MediaAlarmPlayer() = default;

void MediaAlarmPlayer::play(const QString &file, bool loop)
{
    if (!m_player) {
        m_output = std::make_unique<QAudioOutput>();
        m_player = std::make_unique<QMediaPlayer>();
        m_player->setAudioOutput(m_output.get());
    }
    m_player->stop();
    m_player->setSource(QUrl::fromLocalFile(file));
    m_player->setLoops(loop ? QMediaPlayer::Infinite : QMediaPlayer::Once);
    m_player->play();
}

void MediaAlarmPlayer::stop()
{
    if (m_player)
        m_player->stop();
}

Alarm::Alarm(AlarmPlayer &player, const GeneralSettings &settings, std::function<void()> beep)
    : m_player(player), m_settings(settings), m_beep(std::move(beep))
{
}

void Alarm::playAlarmSound(bool play)
{
    if (!play) {
        m_player.stop();
        return;
    }
    const QString file = m_settings.alarmFile.left(maxFileNameLength);
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        if (m_beep)
            m_beep();
        return;
    }
    m_player.play(file, m_settings.repeatAlarm);
}
