<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="tiles" tilewidth="8" tileheight="8" tilecount="4" columns="4">
 <image source="tiles.png" width="32" height="8"/>
</tileset>
