# Bash completion for tauspan: its options, the words some of them take,
# the names of -stat (completed after each comma), directories for -outdir
# and files everywhere else. Installed as
# share/bash-completion/completions/tauspan. Candidates are read with
# mapfile, so that "-?" is never taken as a pattern for file names.

_tauspan() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $prev in
    -sep)
      mapfile -t COMPREPLY < <(compgen -W "tab comma semicolon space" -- "$cur")
      return
      ;;
    -timefmt)
      mapfile -t COMPREPLY < <(compgen -W "number iso mjd" -- "$cur")
      return
      ;;
    -taus)
      mapfile -t COMPREPLY < <(compgen -W "octave decade all" -- "$cur")
      return
      ;;
    -outdir)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    -stat)
      # A comma-separated list: the names before the last comma stay.
      local names="adev oadev mdev tdev hdev ohdev totdev mtotdev ttotdev htotdev theo1 mtie
        tierms"
      local before=""
      [[ $cur == *,* ]] && before=${cur%,*},
      mapfile -t COMPREPLY < <(compgen -P "$before" -W "$names" -- "${cur##*,}")
      compopt -o nospace 2>/dev/null  # a comma and the next name may follow
      return 0
      ;;
    -time | -data | -tmult | -n | -numtaus | -mintau | -maxtau | -jitter | -nominal | -tau0 | -conf | -threads)
      return  # a number
      ;;
    -units)
      mapfile -t COMPREPLY < <(compgen -W "deg/s deg/h rad/s rad/h m/s^2 g" -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* || $cur == /\? ]]; then
    local options="-time -data -tmult -n -numtaus -logtau -mintau -maxtau -nooverlap -jitter
      -fast -plot -sep -timefmt -outdir -threads -stat -biascorr -phase -nominal -tau0 -taus -conf
      -noise -units"
    # These work only as the first argument.
    ((COMP_CWORD == 1)) && options="$options -h -\\? /\\? --help --version"
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -o bashdefault -F _tauspan tauspan
