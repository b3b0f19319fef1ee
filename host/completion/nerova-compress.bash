# bash completion for nerova-compress
_nerova_compress()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
    -o | --output-dir | --ffmpeg-dir)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --to)
        COMPREPLY=($(compgen -W "jpg png webp mp4 mkv mov m4v avi flv f4v m2ts webm" -- "$cur"))
        return
        ;;
    --preset)
        COMPREPLY=($(compgen -W "ultrafast superfast veryfast faster fast medium slow slower veryslow" -- "$cur"))
        return
        ;;
    --scale)
        COMPREPLY=($(compgen -W "1 2 4" -- "$cur"))
        return
        ;;
    --strip)
        COMPREPLY=($(compgen -W "gps all" -- "$cur"))
        return
        ;;
    -j | --jobs | --quality | --max-size | --target-size)
        return
        ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "-o --output-dir -r --recursive --to -j --jobs --quality --preset --scale
            --max-size --strip --target-size --preview --ffmpeg-dir --keep-dates --overwrite --in-place --json --verbose --stats --dry-run
            --version -h --help" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _nerova_compress nerova-compress
