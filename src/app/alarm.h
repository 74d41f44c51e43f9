#pragma once
// The alarm sound: played when an unattended check finds mail, looping
// until a key, a click or one of the main window's commands stops it.

#include <QString>

#include <functional>
#include <memory>

class GeneralSettings;
class QAudioOutput;
class QMediaPlayer;

// Plays a sound file without waiting for its end.
class AlarmPlayer
{
public:
    virtual ~AlarmPlayer() = default;
    virtual void play(const QString &file, bool loop) = 0;
    virtual void stop() = 0;
};

// Qt Multimedia's player; it is made at the first sound, so a program that
// never plays one never opens the audio device.
class MediaAlarmPlayer : public AlarmPlayer
{
public:
    MediaAlarmPlayer();
    ~MediaAlarmPlayer() override;
    void play(const QString &file, bool loop) override;
    void stop() override;

private:
    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QMediaPlayer> m_player;
};

class Alarm
{
public:
    // Only this many characters of the configured file name are used.
    static constexpr int maxFileNameLength = 200;

    // beep is the desktop's warning sound, given for a missing file.
    Alarm(AlarmPlayer &player, const GeneralSettings &settings, std::function<void()> beep);

    // true: plays the configured alarm file, looping with "Repeat"; false:
    // stops whatever the program is playing.
    void playAlarmSound(bool play);

private:
    AlarmPlayer &m_player;
    const GeneralSettings &m_settings;
    std::function<void()> m_beep;
};
