0 4 * * * root /usr/local/bin/backup.sh
