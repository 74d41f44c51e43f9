# The installed layout (GNUInstallDirs) and its twin in the build folder,
# where the program finds the same files beside itself:
#
#   installed                                 build folder
#   <bindir>/mailsieve                        src/mailsieve
#   <datadir>/mailsieve/{known.lst,help,sounds}  src/data/...
#   <datadir>/icons/hicolor/<n>x<n>/apps/     src/icons/hicolor/<n>x<n>/apps/
#
# plus the desktop entry, the AppStream metadata, the manual page and the
# documentation, which only an installation needs.
include(GNUInstallDirs)

# The id that names the desktop entry, the icon files and the AppStream
# component; the program tells the desktop the same name.
set(MAILSIEVE_APP_ID io.github.mailsieve.Mailsieve)
# What a user's program folder is seeded from. data/demo and the desktop
# files are not the user's.
set(MAILSIEVE_SHIPPED_DATA known.lst help sounds)
set(MAILSIEVE_ICON_SIZES 16 22 24 32 48 64 128 256)

# The PNG icons are drawn from the SVG at build time, so the two never differ.
find_program(MAILSIEVE_RSVG_CONVERT rsvg-convert)
if(NOT MAILSIEVE_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert draws the program's icons: install librsvg2-bin")
endif()

# Installs target and everything it ships, and puts the shipped data and
# icons beside it in the build folder.
function(mailsieve_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  set(data ${PROJECT_SOURCE_DIR}/data)
  set(shipped_data ${CMAKE_INSTALL_DATADIR}/mailsieve)
  foreach(entry ${MAILSIEVE_SHIPPED_DATA})
    if(IS_DIRECTORY ${data}/${entry})
      set(copy copy_directory)
      install(DIRECTORY ${data}/${entry} DESTINATION ${shipped_data})
    else()
      set(copy copy)
      install(FILES ${data}/${entry} DESTINATION ${shipped_data})
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E ${copy} ${data}/${entry} $<TARGET_FILE_DIR:${target}>/data/${entry}
      VERBATIM)
  endforeach()

  set(svg ${data}/icons/${MAILSIEVE_APP_ID}.svg)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${svg} DESTINATION ${icons}/scalable/apps)
  set(pngs)
  foreach(size ${MAILSIEVE_ICON_SIZES})
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/icons/hicolor/${size}x${size}/apps)
    set(png ${folder}/${MAILSIEVE_APP_ID}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${MAILSIEVE_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${svg}
      DEPENDS ${svg}
      COMMENT "Drawing the ${size} px icon"
      VERBATIM)
    install(FILES ${png} DESTINATION ${icons}/${size}x${size}/apps)
    list(APPEND pngs ${png})
  endforeach()
  add_custom_target(${target}_icons DEPENDS ${pngs})
  add_dependencies(${target} ${target}_icons)

  install(FILES ${data}/desktop/${MAILSIEVE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${data}/desktop/${MAILSIEVE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${data}/man/mailsieve.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mailsieve)
endfunction()
