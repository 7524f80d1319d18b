# velmora_embed(<target> <namespace> <symbol> <file>): compiles <file>'s bytes into <target> as
#   const unsigned char <namespace>::<symbol>[]; const int <namespace>::<symbol>Size;
function(velmora_embed target namespace symbol file)
    get_filename_component(input "${file}" ABSOLUTE)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DNAMESPACE=${namespace}
                -DSYMBOL=${symbol} -P "${VELMORA_EMBED_SCRIPT}"
        DEPENDS "${input}" "${VELMORA_EMBED_SCRIPT}"
        COMMENT "Embedding ${file}"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
endfunction()
set(VELMORA_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/embed_file_script.cmake")
