# Sets the vesk kit's directory variables for users who have not set them:
#   VESK_DIR_CONFIG  the kit's configuration (this folder: simulation_parameters, caml.yaml,
#                    camr.yaml)
#   VESK_DIR_STATE   files the kit writes while it runs (~/.vesk/state)
#   VESK_DIR_QOR     the kit's own install root; parameters missing from VESK_DIR_CONFIG
#                    are looked for in $VESK_DIR_QOR/share/config (~/.vesk/qor)
# Values already set in the environment are kept. Use: source config/setup.bash
_vesk_config_dir="$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")" && pwd)"
if [ -z "${VESK_DIR_CONFIG:-}" ]; then export VESK_DIR_CONFIG="$_vesk_config_dir"; fi
if [ -z "${VESK_DIR_STATE:-}" ]; then export VESK_DIR_STATE="$HOME/.vesk/state"; fi
if [ -z "${VESK_DIR_QOR:-}" ]; then export VESK_DIR_QOR="$HOME/.vesk/qor"; fi
mkdir -p "$VESK_DIR_STATE" "$VESK_DIR_QOR"
unset _vesk_config_dir
