# qx_embed_resources(<target> FUNCTION <c++ function> FILES <file>...)
# Compiles the files into <target> as raw-data resources. The generated function
#   std::span<const QXResourceData> <function>();
# lists them; each resource is named by its file name without the extension.
set(_QX_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed.cmake)

function(qx_embed_resources target)
    cmake_parse_arguments(ARG "" "FUNCTION" "FILES" ${ARGN})
    _qx_reject_unparsed(qx_embed_resources ${ARG_UNPARSED_ARGUMENTS})
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_${ARG_FUNCTION}.cpp)
    set(abs_files)
    foreach(f ${ARG_FILES})
        get_filename_component(a ${f} ABSOLUTE)
        list(APPEND abs_files ${a})
    endforeach()
    string(REPLACE ";" "|" joined "${abs_files}")
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -DOUT=${out} -DFUNCTION=${ARG_FUNCTION} "-DFILES=${joined}"
                -P ${_QX_EMBED_SCRIPT}
        DEPENDS ${abs_files} ${_QX_EMBED_SCRIPT}
        COMMENT "Embedding resources for ${target}" VERBATIM)
    target_sources(${target} PRIVATE ${out})
endfunction()
