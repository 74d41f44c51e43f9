# The Debian package of an installation under /usr: `cpack` in a configured
# and built folder (scripts/package) writes mailsieve_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mailsieve)
set(CPACK_PACKAGE_VENDOR "The Mailsieve developers")
set(CPACK_PACKAGE_CONTACT "The Mailsieve developers <mailsieve@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "spam filter that works on the POP3 or IMAP server")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "spam filter that works on the POP3 or IMAP server
 Mailsieve reads the size and the header lines of every message waiting in a
 POP3 or IMAP mailbox, marks spam by subject, header, sender and exception
 rules, a known spammer list and size limits, and deletes the marked messages
 on the server (on IMAP it moves them to the Junk folder) before your mail
 program downloads anything. It can check automatically from the system tray,
 and on the command line without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://mailsieve.github.io/)
# The libraries come from the binary (dpkg-shlibdeps). What it loads at run
# time without linking is recommended: the GStreamer elements that play the
# alarm sound, the trust store for TLS, the icon theme the icons go into,
# the opener of the log file and the mail program, and the Wayland plug-in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The message store opens SQLite through Qt's plug-in, which no binary links:
# dpkg-shlibdeps cannot see it, and without it every check starts from nothing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, ca-certificates, hicolor-icon-theme, xdg-utils, qt6-wayland")
include(CPack)
